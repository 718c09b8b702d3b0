// The settings window: login data, language, the client option, user-data deletion, autostart
// and the update area. The model holds every control's state; the view renders it.
#pragma once

#include "app/Views.h"
#include "update/UpdateChain.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace varnek {

class Application;

enum class ControlKind { Button, Frame, Option, Check, Label, Edit, PasswordEdit };

// The window's controls, in the window's order.
enum class Ctl : int {
    bUpdateCheck,
    tSlet,
    bGem,
    bLuk,
    Frame2,
    b_Sprog1,
    b_Sprog0,
    bRemoveAutostart,
    bAddAutostart,
    vTeamviewer,
    t_Version_Ny,
    t_Version_Aktuell,
    Frame1,
    tKodeord,
    tBrugernavn,
    KodeShow,
    L_Password,
    L_Username,
    // State of the update area, not placed on the window.
    t_TeamViewerDateStat,
    t_TeamViewer_Status,
    t_VarnekIT_Status,
    t_TeamViewerNyVer,
    t_TeamViewerMinVer,
    t_VarnekITNyVer,
    t_VarnekITMinVer,
    Count
};
inline constexpr int ControlCount = static_cast<int>(Ctl::Count);

struct ControlDesign {
    std::string_view name;
    ControlKind kind;
    std::string_view caption;     // caption (or text) when the window is created
    int left, top, width, height; // twips; inside a frame relative to the frame
    Ctl parent;                   // Ctl::Count: the window itself
    bool placed;                  // false for the update area's text holders
    bool bold;
    bool red;
};

struct ControlState {
    std::string caption; // a text box's text, every other control's caption
    bool visible = true;
    bool value = false; // checked (check box) or selected (option button)
};

class f_Indstillinger final : private IUpdateHost {
public:
    static constexpr std::string_view Caption = " Indstillinger";
    static constexpr int ClientWidthTwips = 4440;
    static constexpr int ClientHeightTwips = 5745;

    // Creates the window hidden, in its design state, and runs its load step.
    explicit f_Indstillinger(Application& app);
    ~f_Indstillinger();

    static const ControlDesign& Design(Ctl control);
    const ControlState& State(Ctl control) const { return controls_[Index(control)]; }

    // Model changes (also used by the language and update routines).
    void SetCaption(Ctl control, std::string_view caption);
    void SetVisible(Ctl control, bool visible);
    void SetChecked(Ctl control, bool checked);
    // Selects one of the two language buttons; raises b_Sprog_Click when it becomes selected.
    void SelectLanguageButton(int index);

    // Input from the view.
    void UserEdited(Ctl control, std::string_view text);
    void UserToggled(Ctl control, bool checked);
    void UserClicked(Ctl control);

    void Show();
    // Unloads the window (its close box; the Close button does the same).
    void Unload();

    // Handlers.
    void Form_Load();
    void bGem_Click();
    void bLuk_Click();
    void b_Sprog_Click(int Index);
    void tSlet_Click();
    void bAddAutostart_Click();
    void bRemoveAutostart_Click();
    // The Update Check button; the main window's 30th tick calls it too, as an automatic check.
    void bUpdateCheck_Click(CheckStart start = CheckStart::ByHand);

    // The update chain, which the window owns: closing the window ends it. Its steps keep
    // their names here.
    void StartVarnekITUpdateCheck() { update_.StartVarnekITUpdateCheck(); }
    void VersionCheckTeamViewer_DownloadComplete(const std::string& Key,
                                                 const std::vector<std::uint8_t>& Value,
                                                 std::int32_t FileType) {
        update_.VersionCheckTeamViewer_DownloadComplete(Key, Value, FileType);
    }
    void VersionCheckVarnekIT_DownloadComplete(const std::string& Key,
                                               const std::vector<std::uint8_t>& Value,
                                               std::int32_t FileType) {
        update_.VersionCheckVarnekIT_DownloadComplete(Key, Value, FileType);
    }
    void DownloadTeamViewer() { update_.DownloadTeamViewer(); }
    void DownloadVarnekIT() { update_.DownloadVarnekIT(); }
    void Download_TeamViewer_DownloadComplete(std::int32_t MaxBytes, const std::string& SaveFile) {
        update_.Download_TeamViewer_DownloadComplete(MaxBytes, SaveFile);
    }
    void Downloader1_DownloadComplete(std::int32_t MaxBytes, const std::string& SaveFile) {
        update_.Downloader1_DownloadComplete(MaxBytes, SaveFile);
    }
    void GenerateBatFile() { update_.GenerateBatFile(); }
    // The program ends: every check and download stops now, their temporary files go.
    void EndUpdates() { update_.Stop(); }

private:
    static int Index(Ctl control) { return static_cast<int>(control); }
    void Changed(Ctl control);
    // Stores a setting; one that cannot be written goes to the update log.
    void Save(std::string_view key, std::string_view value);

    // IUpdateHost
    void SetLabel(UpdateLabel label, std::string_view text) override;
    std::string Label(UpdateLabel label) const override;
    void ShowUpdatingBalloon() override;
    [[noreturn]] void EndForReplacement() override;

    Application& app_;
    std::array<ControlState, ControlCount> controls_;
    std::unique_ptr<IFormView> view_;
    // Declared last: it goes first when the window goes, and reads still under way are
    // dropped then.
    UpdateChain update_;
};

} // namespace varnek
