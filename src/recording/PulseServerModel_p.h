// What the audio server has, as far as calls go: its sources, sinks, capture streams (source
// outputs) and playback streams (sink inputs), fed with the server's own info records. From
// them it tells which applications are in a call and which devices a call reads and plays to.
// A call is one application: the streams of one process (or sandboxed application) and the
// streams that share its name. A call is remembered until it is forgotten, so that it keeps its
// streams while its microphone is closed. Holds no connection: tests feed it records by hand.
#pragma once

#include <pulse/introspect.h>

#include <QString>
#include <map>
#include <set>
#include <vector>

#include "CallLifetime.h"

class PulseServerModel {
public:
    // Streams of the process with this id are the recorder's own and never a call.
    explicit PulseServerModel(QString ownProcess);

    void updateServer(const pa_server_info& info);
    void updateSource(const pa_source_info& info);
    void updateSink(const pa_sink_info& info);
    void updateCapture(const pa_source_output_info& info);
    void updatePlayback(const pa_sink_input_info& info);
    void removeSource(uint32_t index) { m_sources.erase(index); }
    void removeSink(uint32_t index) { m_sinks.erase(index); }
    void removeCapture(uint32_t index) { m_captures.erase(index); }
    void removePlayback(uint32_t index) { m_playbacks.erase(index); }

    struct CallFacts {
        QString id;  // the name of the application's first capture stream
        bool phone = false;
        uint64_t seen = 0;  // order of first sight
        CallLifetime::Streams streams;
    };
    // Every application holding a microphone and every call not yet forgotten: phone calls
    // first, then in the order they were first seen. Each call's streams are remembered.
    std::vector<CallFacts> calls();
    void forget(const QString& callId) { m_known.erase(callId); }
    // The source the call's microphone stream reads; empty while it has none.
    QString microphoneOf(const QString& callId) const;
    bool holdsMicrophone(const QString& callId) const;
    bool isSuspended(const QString& source) const;
    // Each playback stream of the call, with the monitor source of the sink it plays to.
    std::map<uint32_t, QString> playbacksOf(const QString& callId) const;
    // The monitor of the sink the call plays to (the default sink's while it plays nothing);
    // empty when there is none.
    QString outputMonitorOf(const QString& callId) const;

private:
    struct Capture {
        QString app;
        QString process;  // which process or sandbox; empty when the stream does not say
        uint32_t source = PA_INVALID_INDEX;
        bool phone = false;
        bool eligible = false;  // an application's own stream, not ours, not a meter
        uint64_t seen = 0;
    };
    struct Playback {
        QString app;
        QString process;
        uint32_t sink = PA_INVALID_INDEX;
        bool corked = false;
    };
    struct Source {
        QString name;
        bool monitor = false;
        bool suspended = false;
    };
    struct Sink {
        QString name;
        QString monitor;
    };

    // Which call each capture stream that is a call, and each playback stream of a call,
    // belongs to.
    struct Membership {
        std::map<uint32_t, QString> captures, playbacks;
    };
    // What a call was seen to be made of: its applications' names and processes.
    struct Known {
        std::set<QString> labels;
        bool phone = false;
        uint64_t seen = 0;
    };

    bool isCall(const Capture& capture) const;
    Membership membership() const;
    QString monitorOfSink(uint32_t sink) const;

    QString m_ownProcess;
    void remember(const Membership& members);

    QString m_defaultSink;
    uint64_t m_nextSeen = 1;
    std::map<uint32_t, Capture> m_captures;
    std::map<uint32_t, Playback> m_playbacks;
    std::map<uint32_t, Source> m_sources;
    std::map<uint32_t, Sink> m_sinks;
    std::map<QString, Known> m_known;
};
