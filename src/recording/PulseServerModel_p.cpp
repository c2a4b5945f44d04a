#include "PulseServerModel_p.h"

#include <pulse/proplist.h>

#include <algorithm>
#include <string_view>

namespace {

QString property(const pa_proplist* list, const char* key) {
    const char* value = list ? pa_proplist_gets(list, key) : nullptr;
    return value ? QString::fromUtf8(value) : QString();
}

// Unnamed streams count by their connection.
QString applicationName(const pa_proplist* list, uint32_t client) {
    const QString name = property(list, PA_PROP_APPLICATION_NAME);
    return name.isEmpty() ? QString("client %1").arg(client) : name;
}

// The process a stream comes from, by the server's own record of its peer where it has one.
// Process ids repeat across sandboxes, so a sandboxed application counts by its id. A stream
// that says nothing of its process counts by its connection.
QString processKey(const pa_proplist* list, uint32_t client) {
    if (const QString app = property(list, "pipewire.access.portal.app_id"); !app.isEmpty())
        return "sandbox " + app + " " + property(list, "pipewire.access.portal.instance_id");
    if (const QString peer = property(list, "pipewire.sec.pid"); !peer.isEmpty())
        return "peer " + peer;
    if (const QString pid = property(list, PA_PROP_APPLICATION_PROCESS_ID); !pid.isEmpty())
        return QString("process %1 %2 %3 %4")
            .arg(pid, property(list, PA_PROP_APPLICATION_PROCESS_BINARY),
                 property(list, PA_PROP_APPLICATION_PROCESS_MACHINE_ID),
                 property(list, PA_PROP_APPLICATION_PROCESS_HOST));
    return client == PA_INVALID_INDEX ? QString() : QString("client %1").arg(client);
}

// The labels a stream is known by: its application's name, and its process where it says.
std::vector<QString> labelsOf(const QString& app, const QString& process) {
    if (process.isEmpty()) return {"name " + app};
    return {"name " + app, "process " + process};
}

// Streams joined by a shared label, each group one application.
class Groups {
public:
    void join(const std::vector<QString>& labels) {
        for (const QString& label : labels) {
            const QString a = root(label), b = root(labels.front());
            if (a != b) m_parent[a] = b;
        }
    }
    QString of(const QString& app) { return root("name " + app); }

private:
    QString root(const QString& label) {
        const QString parent = m_parent.try_emplace(label, label).first->second;
        if (parent == label) return label;
        return m_parent[label] = root(parent);
    }
    std::map<QString, QString> m_parent;
};

}  // namespace

PulseServerModel::PulseServerModel(QString ownProcess) : m_ownProcess(std::move(ownProcess)) {}

void PulseServerModel::updateServer(const pa_server_info& info) {
    m_defaultSink = info.default_sink_name ? QString::fromUtf8(info.default_sink_name) : QString();
}

void PulseServerModel::updateSource(const pa_source_info& info) {
    m_sources[info.index] = {QString::fromUtf8(info.name), info.monitor_of_sink != PA_INVALID_INDEX,
                             info.state == PA_SOURCE_SUSPENDED};
}

void PulseServerModel::updateSink(const pa_sink_info& info) {
    m_sinks[info.index] = {QString::fromUtf8(info.name),
                           info.monitor_source_name ? QString::fromUtf8(info.monitor_source_name)
                                                    : QString::fromUtf8(info.name) + ".monitor"};
}

void PulseServerModel::updateCapture(const pa_source_output_info& info) {
    const auto [it, added] = m_captures.try_emplace(info.index);
    Capture& capture = it->second;
    capture.app = applicationName(info.proplist, info.client);
    capture.process = processKey(info.proplist, info.client);
    if (added) {
        // A stream the application opens beside one it has keeps the application's place.
        capture.seen = m_nextSeen++;
        for (const auto& [index, other] : m_captures)
            if (other.app == capture.app ||
                (!capture.process.isEmpty() && other.process == capture.process))
                capture.seen = std::min(capture.seen, other.seen);
    }
    capture.source = info.source;
    capture.phone = property(info.proplist, PA_PROP_MEDIA_ROLE) == "phone";
    // Client-less streams are the server's own filters and loopbacks; "peaks" is a level meter.
    capture.eligible = info.client != PA_INVALID_INDEX &&
                       property(info.proplist, PA_PROP_APPLICATION_PROCESS_ID) != m_ownProcess &&
                       capture.process != "peer " + m_ownProcess &&
                       !(info.resample_method && std::string_view(info.resample_method) == "peaks");
}

void PulseServerModel::updatePlayback(const pa_sink_input_info& info) {
    m_playbacks[info.index] = {applicationName(info.proplist, info.client),
                               processKey(info.proplist, info.client), info.sink, info.corked != 0};
}

// Decided when asked, not when the stream was seen: its source may be described later.
bool PulseServerModel::isCall(const Capture& capture) const {
    if (!capture.eligible) return false;
    const auto source = m_sources.find(capture.source);
    return source == m_sources.end() || !source->second.monitor;
}

PulseServerModel::Membership PulseServerModel::membership() const {
    Groups groups;
    for (const auto& [id, known] : m_known)
        groups.join(std::vector<QString>(known.labels.begin(), known.labels.end()));
    for (const auto& [index, capture] : m_captures)
        if (isCall(capture)) groups.join(labelsOf(capture.app, capture.process));
    for (const auto& [index, playback] : m_playbacks)
        groups.join(labelsOf(playback.app, playback.process));
    // A call keeps the name it was first seen by, so that its id stays while it reopens its
    // microphone, or has none.
    std::map<QString, std::pair<uint64_t, QString>> named;
    const auto name = [&](const QString& app, uint64_t seen, const QString& id) {
        const auto [it, added] = named.try_emplace(groups.of(app), seen, id);
        if (!added && seen < it->second.first) it->second = {seen, id};
    };
    for (const auto& [id, known] : m_known) name(id, known.seen, id);
    for (const auto& [index, capture] : m_captures)
        if (isCall(capture)) name(capture.app, capture.seen, capture.app);
    Membership result;
    for (const auto& [index, capture] : m_captures)
        if (isCall(capture)) result.captures[index] = named.at(groups.of(capture.app)).second;
    for (const auto& [index, playback] : m_playbacks)
        if (const auto it = named.find(groups.of(playback.app)); it != named.end())
            result.playbacks[index] = it->second.second;
    return result;
}

void PulseServerModel::remember(const Membership& members) {
    for (const auto& [index, id] : members.captures) {
        const Capture& capture = m_captures.at(index);
        auto [it, added] = m_known.try_emplace(id, Known{{}, false, capture.seen});
        Known& known = it->second;
        known.phone = known.phone || capture.phone;
        known.seen = std::min(known.seen, capture.seen);
        for (const QString& label : labelsOf(capture.app, capture.process))
            known.labels.insert(label);
    }
    for (const auto& [index, id] : members.playbacks) {
        const Playback& playback = m_playbacks.at(index);
        if (const auto it = m_known.find(id); it != m_known.end())
            for (const QString& label : labelsOf(playback.app, playback.process))
                it->second.labels.insert(label);
    }
}

std::vector<PulseServerModel::CallFacts> PulseServerModel::calls() {
    const Membership members = membership();
    remember(members);
    std::map<QString, CallFacts> byId;
    for (const auto& [id, known] : m_known) byId[id] = CallFacts{id, known.phone, known.seen, {}};
    for (const auto& [index, id] : members.captures) ++byId[id].streams.captures;
    for (const auto& [index, id] : members.playbacks)
        if (!m_playbacks.at(index).corked) ++byId[id].streams.playing;
    std::vector<CallFacts> result;
    for (auto& [id, facts] : byId) result.push_back(std::move(facts));
    std::sort(result.begin(), result.end(), [](const CallFacts& a, const CallFacts& b) {
        if (a.phone != b.phone) return a.phone;
        return a.seen < b.seen;
    });
    return result;
}

QString PulseServerModel::microphoneOf(const QString& callId) const {
    // The stream seen first is the one the call began with; one still without a source waits.
    const Capture* first = nullptr;
    for (const auto& [index, id] : membership().captures) {
        const Capture& capture = m_captures.at(index);
        if (id == callId && m_sources.count(capture.source) &&
            (!first || capture.seen < first->seen))
            first = &capture;
    }
    return first ? m_sources.at(first->source).name : QString();
}

bool PulseServerModel::holdsMicrophone(const QString& callId) const {
    const auto captures = membership().captures;
    return std::any_of(captures.begin(), captures.end(),
                       [&](const auto& entry) { return entry.second == callId; });
}

bool PulseServerModel::isSuspended(const QString& source) const {
    return std::any_of(m_sources.begin(), m_sources.end(), [&](const auto& entry) {
        return entry.second.name == source && entry.second.suspended;
    });
}

QString PulseServerModel::monitorOfSink(uint32_t sink) const {
    const auto it = m_sinks.find(sink);
    return it == m_sinks.end() ? QString() : it->second.monitor;
}

std::map<uint32_t, QString> PulseServerModel::playbacksOf(const QString& callId) const {
    std::map<uint32_t, QString> result;
    for (const auto& [index, id] : membership().playbacks) {
        if (id != callId) continue;
        const QString monitor = monitorOfSink(m_playbacks.at(index).sink);
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
