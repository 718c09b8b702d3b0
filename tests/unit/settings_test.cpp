// The settings window: its load step, Save, the language buttons, Close and the deletion of the
// user data, on an in-memory store.
#include "AppFixture.h"
#include "crypto/CSHA256.h"

using namespace varnek;
using varnek::testing::AppFixture;

namespace {

struct SettingsTest : AppFixture {
    void Type(Ctl control, const std::string& text) { Settings().UserEdited(control, text); }
};

} // namespace

TEST_F(SettingsTest, AFreshProfileShowsEmptyFieldsNoNoteAndTheOptionChecked) {
    Start();
    EXPECT_EQ(Caption(Ctl::tBrugernavn), "");
    EXPECT_EQ(Caption(Ctl::tKodeord), "");
    EXPECT_FALSE(Settings().State(Ctl::KodeShow).visible);
    EXPECT_TRUE(Settings().State(Ctl::vTeamviewer).value);
    EXPECT_EQ(Caption(Ctl::t_Version_Aktuell), "Version : 1.0.2");
    EXPECT_EQ(f_Indstillinger::Design(Ctl::tKodeord).kind, ControlKind::PasswordEdit);
}

TEST_F(SettingsTest, LoadShowsWhatIsStored) {
    p.store.Set("Brugernavn", "Søren");
    p.store.Set("Kodeord", "abc");
    p.store.Set("Teamviewer", "0");
    Start();
    EXPECT_EQ(Caption(Ctl::tBrugernavn), "Søren");
    EXPECT_EQ(Caption(Ctl::tKodeord), ""); // a stored password is never shown
    EXPECT_TRUE(Settings().State(Ctl::KodeShow).visible);
    EXPECT_FALSE(Settings().State(Ctl::vTeamviewer).value);

    app.reset();
    p = {};
    p.store.Set("Teamviewer", "yes"); // neither "1" nor "0": the box stays as created
    p.store.Set("Kodeord", "0");
    Start();
    EXPECT_TRUE(Settings().State(Ctl::vTeamviewer).value);
    EXPECT_FALSE(Settings().State(Ctl::KodeShow).visible);
}

TEST_F(SettingsTest, SaveStoresNameDigestOptionAndLanguage) {
    Start();
    Type(Ctl::tBrugernavn, "kunde");
    Type(Ctl::tKodeord, "p");
    Settings().UserToggled(Ctl::vTeamviewer, false);
    Settings().bGem_Click();
    EXPECT_EQ(p.store.Get("Brugernavn"), "kunde");
    // The digest of the password followed by the salt; the salt is a fixed part of every
    // digest the server checks.
    EXPECT_EQ(p.store.Get("Kodeord"), CSHA256().SHA256(u"p8OurOddPepper42"));
    EXPECT_EQ(p.store.Get("Kodeord")->size(), 64u);
    EXPECT_EQ(p.store.Get("Teamviewer"), "0");
    EXPECT_EQ(p.store.Get("Language"), "0");
    // The window stays as it is: the typed password remains, the note keeps its state.
    EXPECT_EQ(Caption(Ctl::tKodeord), "p");
    EXPECT_FALSE(Settings().State(Ctl::KodeShow).visible);
}

TEST_F(SettingsTest, SaveWithEmptyFieldsKeepsNameAndDigest) {
    p.store.Set("Brugernavn", "kunde");
    p.store.Set("Kodeord", std::string(64, 'a'));
    Start();
    Type(Ctl::tBrugernavn, "");
    Settings().SelectLanguageButton(1);
    p.store.log.clear();
    Settings().bGem_Click();
    EXPECT_EQ(p.store.log, (std::vector<std::string>{"save Teamviewer=1", "save Language=1"}));
    EXPECT_EQ(p.store.Get("Brugernavn"), "kunde");
    EXPECT_EQ(p.store.Get("Kodeord"), std::string(64, 'a'));
}

TEST_F(SettingsTest, ASettingThatCannotBeWrittenIsNamedInTheUpdateLog) {
    p.store.Set("Brugernavn", "kunde");
    Start();
    Type(Ctl::tBrugernavn, "ny kunde");
    p.store.saveSucceeds = false;
    Settings().bGem_Click();
    EXPECT_EQ(p.store.Get("Brugernavn"), "kunde");
    EXPECT_EQ(p.updateLog.lines, (std::vector<std::string>{
                                     "2026-03-14 10:30:00 setting Brugernavn could not be saved",
                                     "2026-03-14 10:30:00 setting Teamviewer could not be saved",
                                     "2026-03-14 10:30:00 setting Language could not be saved"}));
    p.store.saveSucceeds = true;
    p.updateLog.lines.clear();
    Settings().bGem_Click();
    EXPECT_EQ(p.store.Get("Brugernavn"), "ny kunde");
    EXPECT_TRUE(p.updateLog.lines.empty());
}

TEST_F(SettingsTest, APasswordWithDanishLettersIsHashedByItsCharacters) {
    Start();
    Type(Ctl::tKodeord, "blåbærgrød");
    Settings().bGem_Click();
    EXPECT_EQ(p.store.Get("Kodeord"), CSHA256().SHA256(u"blåbærgrød8OurOddPepper42"));
}

TEST_F(SettingsTest, LanguageButtonsSwitchEverythingAtOnceButStoreNothing) {
    Start();
    Settings().UserToggled(Ctl::b_Sprog1, true);
    EXPECT_EQ(Main().mnuPopup[7], "Afslut");
    EXPECT_EQ(Caption(Ctl::bGem), "Gem");
    EXPECT_EQ(Caption(Ctl::b_Sprog0), "Engelsk");
    EXPECT_FALSE(Settings().State(Ctl::b_Sprog0).value);
    EXPECT_FALSE(p.store.Get("Language"));

    Settings().UserToggled(Ctl::b_Sprog0, true);
    EXPECT_EQ(Main().mnuPopup[5], "Settings");
    EXPECT_EQ(Caption(Ctl::bLuk), "Close");
    EXPECT_FALSE(p.store.Get("Language"));
}

TEST_F(SettingsTest, AWindowCreatedAgainAfterCloseShowsTheLanguageLastApplied) {
    Start();
    Settings().UserToggled(Ctl::b_Sprog1, true); // Danish, not saved
    const int wakes = p.views.wakes;
    Settings().bLuk_Click();
    EXPECT_FALSE(app->IndstillingerLoaded());
    EXPECT_EQ(p.views.wakes, wakes + 1) << "the loop is woken to release the window";
    app->ReleaseUnloaded();
    EXPECT_EQ(p.views.log.back(), "destroy settings");

    Type(Ctl::tBrugernavn, "x"); // the next reference creates it again and loads it
    EXPECT_EQ(Caption(Ctl::bGem), "Gem");
    EXPECT_EQ(Caption(Ctl::b_Sprog0), "Engelsk");
    EXPECT_EQ(Caption(Ctl::vTeamviewer), "Afslut eksisterende TeamViewer Klient");
    EXPECT_TRUE(Settings().State(Ctl::b_Sprog1).value);
    EXPECT_FALSE(Settings().State(Ctl::b_Sprog0).value);
    Settings().bGem_Click();
    EXPECT_EQ(p.store.Get("Language"), "1"); // what the user sees is what Save stores
}

TEST_F(SettingsTest, DeleteUserDataAsksInTheCurrentLanguage) {
    p.store.Set("Brugernavn", "kunde");
    p.store.Set("Kodeord", "d");
    p.store.Set("Teamviewer", "1");
    p.store.Set("Language", "1");
    Start();

    p.dialogs.answer = vbNo;
    Settings().tSlet_Click();
    ASSERT_EQ(p.dialogs.shown.size(), 1u);
    EXPECT_EQ(p.dialogs.shown[0].text,
              "Er du sikker på du ønsker at slette alle bruger informationerne ?");
    EXPECT_EQ(p.dialogs.shown[0].style, static_cast<std::uint32_t>(vbYesNo));
    EXPECT_FALSE(p.dialogs.shown[0].title); // the program's default title
    EXPECT_EQ(p.store.values.size(), 4u);

    Main().SetLanguageUK();
    p.dialogs.answer = vbYes;
    p.store.log.clear();
    Settings().tSlet_Click();
    EXPECT_EQ(p.dialogs.shown[1].text, "Are you sure yoy want to delete all USer Data ?");
    EXPECT_EQ(p.store.log, (std::vector<std::string>{"delete Kodeord", "delete Brugernavn",
                                                     "delete Teamviewer"}));
    EXPECT_EQ(p.store.values.size(), 1u);
    EXPECT_EQ(p.store.Get("Language"), "1");
    EXPECT_EQ(Caption(Ctl::tBrugernavn), "kunde"); // fields are not cleared

    // Deleting keys that are already gone is no error.
    Settings().tSlet_Click();
    EXPECT_EQ(p.store.values.size(), 1u);
}

TEST_F(SettingsTest, EveryCaptionOfBothLanguages) {
    Start();
    struct Row {
        Ctl control;
        const char* design;
        const char* danish;
        const char* english;
    };
    const Row rows[] = {
        {Ctl::Frame1, "Varnek Support System - Login Oplysninger",
         "Varnek Support System - Login Oplysninger", "Varnek Support System - Login Settings"},
        {Ctl::L_Username, "Brugernavn", "Brugernavn", "Username"},
        {Ctl::L_Password, "Kodeord", "Kodeord", "Password"},
        {Ctl::KodeShow, "En kode er angivet skriv kun for at ændre.",
         "En kode er angivet skriv kun for at ændre.",
         "A password have been entered, only write to change"},
        {Ctl::tSlet, "Slet Brugerdata", "Slet Brugerdata", "Delete Userdata"},
        {Ctl::Frame2, "Generelle - Indstillinger", "Generelle - Indstillinger", "Generel Settings"},
        {Ctl::b_Sprog0, "English", "Engelsk", "English"},
        {Ctl::b_Sprog1, "Dansk", "Dansk", "Danish"},
        {Ctl::vTeamviewer, "Afslut eksisterende TeamViewer Klient",
         "Afslut eksisterende TeamViewer Klient", "Automatic Exit running TeamViewer"},
        {Ctl::bAddAutostart, "Tilføj Autostart", "Tilføj Autostart", "Add Autostart"},
        {Ctl::bRemoveAutostart, "Fjern Autostart", "Fjern Autostart", "Remove Autostart"},
        {Ctl::bUpdateCheck, "Update Check", "Update Check", "Update Check"},
        {Ctl::bGem, "Gem", "Gem", "Save"},
        {Ctl::bLuk, "Luk", "Luk", "Close"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(f_Indstillinger::Design(row.control).caption, row.design);
    }
    Main().SetLanguageDK();
    for (const Row& row : rows) {
        EXPECT_EQ(Caption(row.control), row.danish);
    }
    EXPECT_EQ(Main().mnuPopup, (MenuCaptions{"Varnek IT", "-", "Fjernstyring", "Support System",
                                             "-", "Indstillinger", "-", "Afslut"}));
    EXPECT_EQ(app->Globals.TeamViewerNotFoundText,
              "Teamviewer blev ikke fundet, prøv at opdater VarnekIT, eller Kontakt Varnek for "
              "hjælp.");
    Main().SetLanguageUK();
    for (const Row& row : rows) {
        EXPECT_EQ(Caption(row.control), row.english);
    }
    EXPECT_EQ(app->Globals.TeamViewerNotFoundText,
              "Teamviewer was not found, try to Update or contact Varnek for help.");
}
