#include "PulseServerModel_p.h"

#include <pulse/proplist.h>

#include <algorithm>
#include <string_view>

namespace {

QString property(const pa_proplist* list, const char* key) {
    const char* value = list ? pa_proplist_gets(list, key) : nullptr;
    return value ? QString::fromUtf8(value) : QString();
}

// One call per application, by its name: an application that reopens the microphone from a
// helper process is still the same call. Unnamed streams count by their connection.
QString applicationKey(const pa_proplist* list, uint32_t client) {
    const QString name = property(list, PA_PROP_APPLICATION_NAME);
    return name.isEmpty() ? QString("client %1").arg(client) : name;
}

}  // namespace

PulseServerModel::PulseServerModel(QString ownProcess) : m_ownProcess(std::move(ownProcess)) {}

void PulseServerModel::updateServer(const pa_server_info& info) {
    m_defaultSink = info.default_sink_name ? QString::fromUtf8(info.default_sink_name) : QString();
}

void PulseServerModel::updateSource(const pa_source_info& info) {
    m_sources[info.index] = {QString::fromUtf8(info.name),
                             info.monitor_of_sink != PA_INVALID_INDEX};
}

void PulseServerModel::updateSink(const pa_sink_info& info) {
    m_sinks[info.index] = {QString::fromUtf8(info.name),
                           info.monitor_source_name ? QString::fromUtf8(info.monitor_source_name)
                                                    : QString::fromUtf8(info.name) + ".monitor"};
}

void PulseServerModel::updateCapture(const pa_source_output_info& info) {
    Capture& capture = m_captures[info.index];
    capture.app = applicationKey(info.proplist, info.client);
    capture.seen = m_firstSeen.try_emplace(capture.app, m_nextSeen).first->second;
    if (capture.seen == m_nextSeen) ++m_nextSeen;
    capture.source = info.source;
    capture.phone = property(info.proplist, PA_PROP_MEDIA_ROLE) == "phone";
    // Client-less streams are the server's own filters and loopbacks; "peaks" is a level meter.
    capture.eligible = info.client != PA_INVALID_INDEX &&
                       property(info.proplist, PA_PROP_APPLICATION_PROCESS_ID) != m_ownProcess &&
                       !(info.resample_method && std::string_view(info.resample_method) == "peaks");
}

void PulseServerModel::removeCapture(uint32_t index) {
    const auto it = m_captures.find(index);
    if (it == m_captures.end()) return;
    const QString app = it->second.app;
    m_captures.erase(it);
    const bool more = std::any_of(m_captures.begin(), m_captures.end(),
                                  [&](const auto& entry) { return entry.second.app == app; });
    if (!more) m_firstSeen.erase(app);
}

void PulseServerModel::updatePlayback(const pa_sink_input_info& info) {
    m_playbacks[info.index] = {applicationKey(info.proplist, info.client), info.sink};
}

// Decided when asked, not when the stream was seen: its source may be described later.
bool PulseServerModel::isCall(const Capture& capture) const {
    if (!capture.eligible) return false;
    const auto source = m_sources.find(capture.source);
    return source == m_sources.end() || !source->second.monitor;
}

std::vector<PulseServerModel::CallFacts> PulseServerModel::calls() const {
    std::map<QString, CallFacts> byApp;
    for (const auto& [index, capture] : m_captures) {
        if (!isCall(capture)) continue;
        auto [it, added] =
            byApp.try_emplace(capture.app, CallFacts{capture.app, false, capture.seen});
        it->second.phone = it->second.phone || capture.phone;
        it->second.seen = std::min(it->second.seen, capture.seen);
    }
    std::vector<CallFacts> result;
    for (auto& [app, facts] : byApp) result.push_back(std::move(facts));
    std::sort(result.begin(), result.end(), [](const CallFacts& a, const CallFacts& b) {
        if (a.phone != b.phone) return a.phone;
        return a.seen < b.seen;
    });
    return result;
}

QString PulseServerModel::microphoneOf(const QString& callId) const {
    const Capture* first = nullptr;  // the stream seen first is the one the call began with
    for (const auto& [index, capture] : m_captures)
        if (capture.app == callId && isCall(capture) && m_sources.count(capture.source) &&
            (!first || capture.seen < first->seen))
            first = &capture;
    return first ? m_sources.at(first->source).name : QString();
}

QString PulseServerModel::monitorOfSink(uint32_t sink) const {
    const auto it = m_sinks.find(sink);
    return it == m_sinks.end() ? QString() : it->second.monitor;
}

std::map<uint32_t, QString> PulseServerModel::playbacksOf(const QString& callId) const {
    std::map<uint32_t, QString> result;
    for (const auto& [index, playback] : m_playbacks) {
        if (playback.app != callId) continue;
        const QString monitor = monitorOfSink(playback.sink);
        if (!monitor.isEmpty()) result[index] = monitor;
    }
    return result;
}

QString PulseServerModel::outputMonitorOf(const QString& callId) const {
    const auto playbacks = playbacksOf(callId);
    if (!playbacks.empty()) return playbacks.begin()->second;
    for (const auto& [index, sink] : m_sinks)
        if (sink.name == m_defaultSink) return sink.monitor;
    return m_defaultSink.isEmpty() ? QString() : m_defaultSink + ".monitor";
}
