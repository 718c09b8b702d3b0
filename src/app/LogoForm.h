// The launcher window: the company's picture with five click areas over its painted buttons.
#pragma once

#include "app/Views.h"

#include <memory>
#include <string_view>

namespace varnek {

class Application;

class LogoForm {
public:
    static constexpr std::string_view Caption = " Varnek IT Consulting";
    static constexpr int ClientWidthTwips = 9645;
    static constexpr int ClientHeightTwips = 7230;
    static constexpr int PictureWidth = 640; // pixels at 96 DPI
    static constexpr int PictureHeight = 480;

    enum class Area { b_Hjemmeside, b_Fjernstyring, b_SupportSystem, b_Indstillinger, i_Luk };
    struct AreaDesign {
        std::string_view name;
        Area area;
        int left, top, width, height; // twips
        // The text painted on the button under the area: what a screen reader says for it.
        std::string_view label;
    };
    // In reading order, which is also the order the keyboard moves through them.
    static constexpr AreaDesign Areas[] = {
        {"b_Hjemmeside", Area::b_Hjemmeside, 240, 3960, 2535, 735, "Hjemmeside"},
        {"b_Fjernstyring", Area::b_Fjernstyring, 3240, 3960, 2415, 735, "Fjernstyring"},
        {"b_SupportSystem", Area::b_SupportSystem, 6000, 3960, 3015, 735, "Support System"},
        {"b_Indstillinger", Area::b_Indstillinger, 5640, 6360, 2295, 735, "Indstillinger"},
        {"i_Luk", Area::i_Luk, 8400, 6360, 1095, 735, "Luk"},
    };

    explicit LogoForm(Application& app);
    ~LogoForm();

    void Show();
    // Unloads the window (its close box and the Luk area).
    void Unload();
    // A click at a point of the client area, in twips; outside the areas nothing happens.
    void ClickAt(int xTwips, int yTwips);
    void Click(Area area);

private:
    Application& app_;
    std::unique_ptr<IFormView> view_;
};

} // namespace varnek
