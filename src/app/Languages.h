// The captions and messages of the two interface languages.
#pragma once

#include "app/Views.h"

namespace varnek {

class f_Indstillinger;
struct GlobaleVariabler;

enum class Language { English = 0, Danish = 1 };

// Sets the tray menu's captions as MenuCommands has them (the separators are not touched).
void ApplyMenuCaptions(MenuCaptions& menu, Language language);
// Sets the settings window's captions, in the window's language order.
void ApplySettingsCaptions(f_Indstillinger& window, Language language);
void ApplyMessageTexts(GlobaleVariabler& globals, Language language);

} // namespace varnek
