#pragma once

#include "support/PushServiceDouble.h"
#include "support/ScriptedRtcBackend.h"
#include "support/SessionDriver.h"
#include "support/TestEnv.h"

#include <memory>

// What each case of the windows' tests starts from, in this order: a scratch working folder, the
// scripted SDK from scratch, the push service double up, the user at the login window. Torn down
// the other way round (the members' order).
struct PanelSession
{
    PanelSession() : dir(new TestEnv::ScopedWorkDir)
    {
        agora::rtc::ScriptedRtcBackend::setEnabled(true);
        agora::rtc::ScriptedRtcBackend::reset();
        service.reset(new PushServiceDouble::Service);
        service->setUp(true);
        user.reset(new SessionDriver);
    }

    std::unique_ptr<TestEnv::ScopedWorkDir> dir;
    std::unique_ptr<PushServiceDouble::Service> service;
    std::unique_ptr<SessionDriver> user;
};
