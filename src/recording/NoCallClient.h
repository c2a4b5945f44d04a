// A call client for a desktop without one: never running, so "Start Recording" offers the help.
#pragma once

#include "AppError.h"
#include "SkypeClient.h"

class NoCallClient : public ISkype, private IClient {
public:
    IClient& Client() override { return *this; }
    std::unique_ptr<ICallCollection> ActiveCalls() override {
        throw AppError("No call client is available.");
    }

private:
    bool IsRunning() const override { return false; }
};
