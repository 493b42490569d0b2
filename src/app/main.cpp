#include "app/Help.h"
#include "app/TrayApplication.h"
#include "core/RunLoop.h"
#include "platform/linux/LibsecretStore.h"
#include "speech/DownloadCommand.h"
#include "speech/TranscribeCommand.h"
#include "text/Keychain.h"
#include "text/PolishCheck.h"

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    std::vector<std::string> args(argv, argv + argc);
    if (args.size() >= 2 && (args[1] == "--help" || args[1] == "-h")) {
        std::fputs(app::helpText().c_str(), stdout);
        return 0;
    }
    if (args.size() >= 2 && args[1] == "--version") {
        std::fputs("ruvex-voice " RUVEX_VOICE_VERSION "\n", stdout);
        return 0;
    }
    text::Keychain::useStore(platform::lnx::makeSecretStore());
    if (args.size() >= 2 && args[1] == "--polish") {
        core::RunLoop loop;
        text::PolishCheck::run(loop, std::vector<std::string>(args.begin() + 2, args.end()));
        return 0;
    }
    if (args.size() >= 2 && args[1] == "--download-model") {
        return speech::runDownloadCommand();
    }
    if (args.size() >= 2 && args[1] == "--transcribe") {
        return speech::TranscribeCommand::run({args.begin() + 2, args.end()}, std::cout, std::cerr);
    }
    return app::runTrayApplication(argc, argv);
}
