#include "app/LogoForm.h"

#include "app/Application.h"
#include "app/VarnekIT.h"
#include "settings/f_Indstillinger.h"

namespace varnek {

LogoForm::LogoForm(Application& app) : app_(app) {
    view_ = app_.services.views.CreateLogoView(*this);
}

LogoForm::~LogoForm() = default;

void LogoForm::Show() {
    if (view_) {
        view_->Show();
    }
}

void LogoForm::Unload() {
    app_.Unload(*this);
}

void LogoForm::ClickAt(int xTwips, int yTwips) {
    for (const AreaDesign& design : Areas) {
        if (xTwips >= design.left && xTwips < design.left + design.width && yTwips >= design.top &&
            yTwips < design.top + design.height) {
            Click(design.area);
            return;
        }
    }
}

void LogoForm::Click(Area area) {
    switch (area) {
    case Area::b_Hjemmeside:
        app_.MainWindow().OpenHomePage();
        break;
    case Area::b_Fjernstyring:
        app_.MainWindow().RunTeamviewer();
        break;
    case Area::b_SupportSystem:
        app_.MainWindow().OpenSupportPage();
        break;
    case Area::b_Indstillinger:
        app_.Indstillinger().Show();
        break;
    case Area::i_Luk:
        Unload();
        break;
    }
}

} // namespace varnek
