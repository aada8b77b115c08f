// The Associate dialog on the headless backend, with the registry and the
// desktop's configuration and data homes in a private sandbox.
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <string>
#include <vector>

#include "core/app_state.h"
#include "platform/desktop_association.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "tests/support/headless.h"
#include "tests/test_support.h"
#include "ui/association_dialog.h"
#include "ui/resources.h"

using testing_support::fileExists;
using testing_support::readFile;

namespace {

constexpr int kBoxes[] = {IDC_ASSOC_LZH, IDC_ASSOC_ZIP, IDC_ASSOC_ARJ, IDC_ASSOC_TAR,
                          IDC_ASSOC_Z,   IDC_ASSOC_NTX, IDC_ASSOC_IMP, IDC_ASSOC_GZ,
                          IDC_ASSOC_BZ2, IDC_ASSOC_B64, IDC_ASSOC_UUE};

class Association : public testing_support::DeviceSandbox {
protected:
    void SetUp() override {
        DeviceSandbox::SetUp();
        savedData_ = std::getenv("XDG_DATA_HOME") ? std::getenv("XDG_DATA_HOME") : "";
        setenv("XDG_DATA_HOME", (root() + "/data").c_str(), 1);
        savedInstance_ = appState.moduleInstance;
        appState.moduleInstance = programInstance();
        WCHAR path[MAX_PATH + 1] = {};
        GetModuleFileNameW(nullptr, path, MAX_PATH);
        program_ = path;
        headless::install();
    }
    void TearDown() override {
        headless::uninstall();
        appState.moduleInstance = savedInstance_;
        setenv("XDG_DATA_HOME", savedData_.c_str(), 1);
        DeviceSandbox::TearDown();
    }

    // Opens the dialog, notes which boxes start checked, toggles the given
    // boxes, then confirms (answering the question) or cancels.
    std::vector<int> run(std::vector<int> toggle, int answer, bool cancel = false) {
        std::vector<int> checked;
        headless::whenIdle([&checked, toggle, cancel] {
            for (int box : kBoxes)
                if (headless::isChecked(box)) checked.push_back(box);
            for (int box : toggle) headless::click(box);
            headless::chooseMenu(cancel ? IDCANCEL : IDOK);
        });
        headless::answerNextMessageBox(answer);
        EXPECT_EQ(runAssociationDialog(), cancel ? 0 : 1);
        EXPECT_FALSE(headless::ranOutOfSteps());
        return checked;
    }

    // The key's named value "Default" (stored with its NUL), "<none>", or
    // "<no key>" when the key itself is missing.
    static std::u16string value(const std::u16string& key) {
        HKEY handle = nullptr;
        WCHAR data[600] = {};
        DWORD size = sizeof data - sizeof(WCHAR), type = 0;
        if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, 0, &handle) != ERROR_SUCCESS) return u"<no key>";
        LONG status = RegQueryValueExW(handle, u"Default", nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
        RegCloseKey(handle);
        if (status != ERROR_SUCCESS || type != REG_SZ) return u"<none>";
        EXPECT_EQ(size, (std::char_traits<char16_t>::length(data) + 1) * 2);
        return data;
    }
    static void setValue(const std::u16string& key, const std::u16string& text) {
        HKEY handle = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, 0, nullptr, &handle, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExW(handle, u"Default", 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                       static_cast<DWORD>((text.size() + 1) * 2));
        RegCloseKey(handle);
    }

    std::string desktopEntry() const { return root() + "/data/applications/tovrin-unpacker.desktop"; }
    std::string mimeApps() const { return root() + "/config/mimeapps.list"; }
    std::string registryText() const {
        return fileExists(registryFilePath()) ? readFile(registryFilePath()) : "";
    }

    std::u16string program_;
    std::string savedData_;
    HINSTANCE savedInstance_ = nullptr;
};

std::string hostProgram() {
    char target[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", target, sizeof target - 1);
    return std::string(target, length > 0 ? static_cast<std::size_t>(length) : 0);
}

}  // namespace

TEST_F(Association, CheckingTypesRegistersThemInTheRegistryAndOnTheDesktop) {
    EXPECT_TRUE(run({IDC_ASSOC_ZIP, IDC_ASSOC_NTX}, IDYES).empty());  // a fresh store
    ASSERT_EQ(headless::messagesShown().size(), 1u);
    EXPECT_EQ(headless::messagesShown()[0].text, u"Associate selected file type to Tovrin UnPacker?");

    EXPECT_EQ(value(u".zip"), u"TOVRINU_ZIP");
    EXPECT_EQ(value(u"TOVRINU_ZIP"), u"ZIP Archive");
    EXPECT_EQ(value(u"TOVRINU_ZIP\\Shell\\Open\\Command"), u"\"" + program_ + u"\" %1");
    EXPECT_EQ(value(u".ntx"), u"TOVRINU_NTX");

    // The desktop starts the program with the file's path for both types;
    // NTX has no standard MIME type and gets one declared.
    std::string entry = readFile(desktopEntry());
    EXPECT_NE(entry.find("Exec=\"" + hostProgram() + "\" %f\n"), std::string::npos) << entry;
    // It shadows the installed entry, so it shows the same name and icon.
    const std::string installed = readFile(TOVRIN_FIXTURES_DIR "/../../data/tovrin-unpacker.desktop");
    for (const char* key : {"\nName=", "\nIcon="}) {
        std::size_t at = installed.find(key);
        ASSERT_NE(at, std::string::npos) << key;
        std::string line = installed.substr(at, installed.find('\n', at + 1) - at + 1);
        EXPECT_NE(entry.find(line), std::string::npos) << line << entry;
    }
    EXPECT_NE(entry.find("MimeType=application/zip;application/x-tovrin-ntx;\n"),
              std::string::npos)
        << entry;
    EXPECT_EQ(readFile(mimeApps()),
              "[Default Applications]\n"
              "application/zip=tovrin-unpacker.desktop;\n"
              "application/x-tovrin-ntx=tovrin-unpacker.desktop;\n");

    // The boxes show the registry; unchecking takes back exactly what was added.
    EXPECT_EQ(run({IDC_ASSOC_ZIP, IDC_ASSOC_NTX}, IDYES),
              (std::vector<int>{IDC_ASSOC_ZIP, IDC_ASSOC_NTX}));
    EXPECT_EQ(value(u".zip"), u"<none>");  // the extension key stays
    EXPECT_EQ(value(u"TOVRINU_ZIP"), u"<no key>");
    EXPECT_FALSE(fileExists(desktopEntry()));
    EXPECT_FALSE(fileExists(root() + "/data/mime/packages/tovrin-unpacker-ntx.xml"));
    EXPECT_EQ(readFile(mimeApps()), "[Default Applications]\n");
}

TEST_F(Association, AnotherProgramsTypeIsLeftAloneUntilChecked) {
    setValue(u".zip", u"OtherZip");
    testing_support::writeFile(mimeApps(),
                               "[Added Associations]\napplication/zip=x.desktop;\n\n"
                               "[Default Applications]\napplication/zip=other.desktop;\n"
                               "text/plain=editor.desktop;\n");
    const std::string original = readFile(mimeApps());

    // No and Cancel write nothing; Cancel asks nothing.
    const std::string before = registryText();
    EXPECT_TRUE(run({IDC_ASSOC_ZIP, IDC_ASSOC_LZH}, IDNO).empty());
    EXPECT_TRUE(run({IDC_ASSOC_ZIP, IDC_ASSOC_LZH}, IDYES, true).empty());
    EXPECT_EQ(headless::messagesShown().size(), 1u);
    EXPECT_EQ(registryText(), before);
    EXPECT_EQ(readFile(mimeApps()), original);
    EXPECT_FALSE(fileExists(desktopEntry()));

    // Checking the box takes the type over; the former default stays second.
    EXPECT_TRUE(run({IDC_ASSOC_ZIP}, IDYES).empty());
    EXPECT_EQ(value(u".zip"), u"TOVRINU_ZIP");
    EXPECT_EQ(readFile(mimeApps()),
              "[Added Associations]\napplication/zip=x.desktop;\n\n"
              "[Default Applications]\napplication/zip=tovrin-unpacker.desktop;other.desktop;\n"
              "text/plain=editor.desktop;\n");

    EXPECT_EQ(run({IDC_ASSOC_ZIP}, IDYES), std::vector<int>{IDC_ASSOC_ZIP});
    EXPECT_EQ(value(u".zip"), u"<none>");
    EXPECT_EQ(readFile(mimeApps()), original);
}

TEST_F(Association, PairedRowsFollowTheirFirstTypeAndRarIsAlwaysWithdrawn) {
    EXPECT_TRUE(run({IDC_ASSOC_GZ, IDC_ASSOC_UUE}, IDYES).empty());
    EXPECT_EQ(value(u".gz"), u"TOVRINU_GZ");
    EXPECT_EQ(value(u".tgz"), u"TOVRINU_TGZ");
    EXPECT_EQ(value(u".xxe"), u"TOVRINU_XXE");

    setValue(u".gz", u"Other");
    EXPECT_EQ(run({}, IDNO), std::vector<int>{IDC_ASSOC_UUE});

    // ".rar" has no box: this program's registration goes at every confirmed OK.
    registerType(u".rar", u"TOVRINU_RAR", u"RAR Archive", program_.c_str());
    run({}, IDYES);
    EXPECT_EQ(value(u".rar"), u"<none>");
    EXPECT_EQ(value(u"TOVRINU_RAR"), u"<no key>");
    EXPECT_EQ(value(u".gz"), u"Other");
}
