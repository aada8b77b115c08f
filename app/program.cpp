#include "app/program.h"

#include <cstdio>
#include <string>

#include "app/command_line.h"
#include "core/app_state.h"
#include "core/extraction_driver.h"
#include "core/format_handler.h"
#include "core/narrow_text.h"
#include "core/request_outcome.h"
#include "core/request_settings.h"
#include "formats/handler_registry.h"
#include "platform/files.h"
#include "platform/text_conversion.h"
#include "platform/win/backend.h"
#include "ui/main_window.h"
#include "ui/settings_store.h"
#include "ui/string_table.h"

namespace {

constexpr int kExitDialogUnavailable = 1;

void printMessage(UINT messageId) {
    const WCHAR* text = stringResource(messageId);
    std::string utf8;
    if (text && utf16ToUtf8(text, utf8)) std::fprintf(stderr, "%s\n", utf8.c_str());
}

// Reports a finished request on stderr and turns it into the exit status.
int finishRequest() {
    RequestOutcome outcome = outcomeOf(appState);
    if (outcome != RequestOutcome::Succeeded) printMessage(messageIdFor(outcome));
    return exitStatusFor(outcome);
}

// The dialog paths: the main window and its dialog on the backend a test
// installed or the display allows.
int runDialog() {
    WindowBackend* backend = window_system::backend();
    if (!backend) {
        backend = openDisplayBackend();
        window_system::installBackend(backend);
    }
    if (!backend) {
        std::fprintf(stderr,
                     "tovrin-unpacker: no display to show the main dialog on (neither DISPLAY "
                     "nor WAYLAND_DISPLAY is set); extract without a dialog with a keyed "
                     "command line such as '#F(archive)#P(folder)' (see --help)\n");
        return kExitDialogUnavailable;
    }
    int quitCode = runMainWindow(SW_SHOWNORMAL);
    window_system::reset();
    return quitCode == 0 ? 0 : kExitDialogUnavailable;
}

// The silent request named by #F, #P and #S.
int silentExtraction(const WCHAR* commandLine) {
    WCHAR folder[MAX_PATH];
    WCHAR archive[MAX_PATH];
    WCHAR password[MAX_PATH];
    ParameterResult folderResult = parameterValue(commandLine, u"#P", folder, MAX_PATH);
    ParameterResult archiveResult = parameterValue(commandLine, u"#F", archive, MAX_PATH);
    ParameterResult passwordResult = parameterValue(commandLine, u"#S", password, MAX_PATH);

    // Texts that do not fit their buffers refuse the request: cutting them
    // would name another file, folder or password.
    if (archiveResult == ParameterResult::TooLong) {
        appState.notFoundCount += 1;
        return finishRequest();
    }
    if (folderResult == ParameterResult::TooLong || passwordResult == ParameterResult::TooLong) {
        appState.failedCount += 1;
        return finishRequest();
    }
    if (password[0] && !toNarrow(password, appState.password, kPasswordBufferSize)) {
        appState.failedCount += 1;
        return finishRequest();
    }
    writeExtractPath(folder);
    if (!toNarrow(archive, appState.archivePathNarrow, MAX_PATH)) {
        appState.notFoundCount += 1;
        return finishRequest();
    }
    ExtractionDriver(appState.archivePathNarrow);
    return finishRequest();
}

int startupAction(const WCHAR* commandLine) {
    if (!commandLine[0]) {
        appState.commandLineFile[0] = 0;
        return runDialog();
    }
    if (containsIgnoreCase(commandLine, u"#F(") && containsIgnoreCase(commandLine, u"#P(")) {
        return silentExtraction(commandLine);
    }
    // Anything else must name an existing file; a folder, or a path that does
    // not exist, ends the program without a message.
    DWORD attributes = GetFileAttributesW(commandLine);
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        appState.notFoundCount += 1;
        return exitStatusFor(outcomeOf(appState));
    }
    std::size_t length = wideLength(commandLine);
    appState.commandLineFile[0] = 0;
    if (length < MAX_PATH) {
        for (std::size_t i = 0; i <= length; ++i) appState.commandLineFile[i] = commandLine[i];
    }
    return runDialog();
}

}  // namespace

int runProgram(const WCHAR* commandLine) {
    buildLeadTable();
    if (!allocateSniffBuffer()) {
        std::fprintf(stderr, "tovrin-unpacker: out of memory\n");
        return 4;
    }
    appState.commandLine = commandLine;
    appState.handlerListHead = buildHandlerList();
    useRequestSettings(&storedRequestSettings());
    appState.optionCreateFolder = readCreateFolder() ? 1 : 0;
    appState.optionOpenFolder = readOpenFolder() ? 1 : 0;

    int status = startupAction(commandLine);

    destroyHandlerList();
    releaseSniffBuffer();
    return status;
}
