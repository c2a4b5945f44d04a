// The call client as the recorder sees it: the object model of a chat client's automation
// library. A client lists the active calls, sends a call's two sides into WAV files and reports
// every status change of every call. Failing requests throw AppError.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

// The library's call status codes (TCallStatus).
enum CallStatusCode : int {
    clsUnknown = -1,
    clsUnplaced = 0,
    clsRouting = 1,
    clsEarlyMedia = 2,
    clsFailed = 3,
    clsRinging = 4,
    clsInProgress = 5,
    clsOnHold = 6,
    clsFinished = 7,
    clsMissed = 8,
    clsRefused = 9,
    clsBusy = 10,
    clsCancelled = 11,
    clsLocalHold = 12,
    clsRemoteHold = 13,
};

// The library's call audio device types (TCallIoDeviceType).
enum CallIoDeviceType : int {
    callIoDeviceTypeSoundcard = 0,
    callIoDeviceTypePort = 1,
    callIoDeviceTypeFile = 2
};

// What a client tells of a recording when its call has ended.
struct CallReport {
    // What was lost (a side that could not be written); said before the call is saved.
    QStringList problems;
    // How it was recorded (for instance that other sounds are in it); said with "Done.".
    QStringList notes;
};

class ICall {
public:
    virtual ~ICall() = default;
    // Stays the same for the whole life of the call, across fresh collections.
    virtual QString Id() const = 0;
    // Send the local microphone side of the call to a device (type 2: a WAV file at path).
    virtual void setCaptureMicDevice(int deviceType, const QString& path) = 0;
    // Send what the client plays for this call, the remote side, to a device.
    virtual void setOutputDevice(int deviceType, const QString& path) = 0;
};

using CallPtr = std::shared_ptr<ICall>;

class ICallCollection {
public:
    virtual ~ICallCollection() = default;
    virtual int Count() const = 0;
    // Indices start at 1.
    virtual CallPtr Item(int index) const = 0;
};

class IClient {
public:
    virtual ~IClient() = default;
    virtual bool IsRunning() const = 0;
};

class ISkype : public QObject {
    Q_OBJECT
public:
    virtual IClient& Client() = 0;
    // A fresh collection of the calls under way now.
    virtual std::unique_ptr<ICallCollection> ActiveCalls() = 0;
    // Lets the client finish the files it is writing (headers final, data flushed) before the
    // program ends in the middle of a call.
    virtual void finishFiles() {}
    // What the user should be told about how an ended call was recorded; given once.
    virtual CallReport takeCallReport(const QString& callId) {
        Q_UNUSED(callId);
        return {};
    }

signals:
    // Raised on the user-interface thread for each status change of each call.
    void CallStatus(CallPtr call, int status);
};

// Creates a new client object; the recorder makes one on every "Start Recording".
using SkypeFactory = std::function<std::unique_ptr<ISkype>()>;
