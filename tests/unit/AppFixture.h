// A whole program on fake platform services.
#pragma once

#include "app/Application.h"
#include "app/LogoForm.h"
#include "app/VarnekIT.h"
#include "fakes/Fakes.h"
#include "settings/f_Indstillinger.h"

#include <gtest/gtest.h>

#include <memory>

namespace varnek::testing {

struct AppFixture : ::testing::Test {
    fakes::FakePlatform p;
    std::unique_ptr<Application> app;

    Application& Create() {
        app = std::make_unique<Application>(p.ServicesWith(p.views));
        return *app;
    }
    VarnekIT& Start() { return Create().LoadMainWindow(); }
    VarnekIT& Main() { return app->MainWindow(); }
    f_Indstillinger& Settings() { return app->Indstillinger(); }
    fakes::FakeMainView& MainView() { return *p.views.main; }
    std::string Caption(Ctl control) { return Settings().State(control).caption; }
};

} // namespace varnek::testing
