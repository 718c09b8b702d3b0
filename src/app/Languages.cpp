#include "app/Languages.h"

#include "app/GlobaleVariabler.h"
#include "app/VarnekIT.h"
#include "settings/f_Indstillinger.h"

#include <string_view>
#include <utility>

namespace varnek {

namespace {

struct Texts {
    std::string_view danish;
    std::string_view english;
};

std::string_view Pick(const Texts& texts, Language language) {
    return language == Language::Danish ? texts.danish : texts.english;
}

constexpr std::pair<Ctl, Texts> SettingsTexts[] = {
    {Ctl::Frame1,
     {"Varnek Support System - Login Oplysninger", "Varnek Support System - Login Settings"}},
    {Ctl::L_Username, {"Brugernavn", "Username"}},
    {Ctl::L_Password, {"Kodeord", "Password"}},
    {Ctl::KodeShow,
     {"En kode er angivet skriv kun for at ændre.",
      "A password have been entered, only write to change"}},
    {Ctl::tSlet, {"Slet Brugerdata", "Delete Userdata"}},
    {Ctl::Frame2, {"Generelle - Indstillinger", "Generel Settings"}},
    {Ctl::b_Sprog0, {"Engelsk", "English"}},
    {Ctl::b_Sprog1, {"Dansk", "Danish"}},
    {Ctl::vTeamviewer,
     {"Afslut eksisterende TeamViewer Klient", "Automatic Exit running TeamViewer"}},
    {Ctl::bAddAutostart, {"Tilføj Autostart", "Add Autostart"}},
    {Ctl::bRemoveAutostart, {"Fjern Autostart", "Remove Autostart"}},
    {Ctl::bUpdateCheck, {"Update Check", "Update Check"}},
    {Ctl::bGem, {"Gem", "Save"}},
    {Ctl::bLuk, {"Luk", "Close"}},
};

constexpr Texts TeamViewerNotFound = {
    "Teamviewer blev ikke fundet, prøv at opdater VarnekIT, eller Kontakt Varnek for hjælp.",
    "Teamviewer was not found, try to Update or contact Varnek for help."};
constexpr Texts DeleteUserData = {
    "Er du sikker på du ønsker at slette alle bruger informationerne ?",
    "Are you sure yoy want to delete all USer Data ?"};

} // namespace

void ApplyMenuCaptions(MenuCaptions& menu, Language language) {
    for (const MenuCommand& command : MenuCommands) {
        menu[command.index] = std::string(Pick({command.danish, command.english}, language));
    }
}

void ApplySettingsCaptions(f_Indstillinger& window, Language language) {
    for (const auto& [control, texts] : SettingsTexts) {
        window.SetCaption(control, Pick(texts, language));
    }
}

void ApplyMessageTexts(GlobaleVariabler& globals, Language language) {
    globals.TeamViewerNotFoundText = std::string(Pick(TeamViewerNotFound, language));
    globals.DeleteUserDataText = std::string(Pick(DeleteUserData, language));
}

} // namespace varnek
