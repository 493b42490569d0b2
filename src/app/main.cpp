#include "app/Help.h"
#include "app/TrayApplication.h"
#include "app/cli/Diagnose.h"
#include "app/cli/DownloadCommand.h"
#include "app/cli/PolishCheck.h"
#include "app/cli/TranscribeCommand.h"
#include "core/RunLoop.h"
#include "platform/linux/LibsecretStore.h"
#include "text/Keychain.h"
#include "text/Polisher.h"

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    std::vector<std::string> args(argv, argv + argc);
    const std::string mode = args.size() >= 2 ? args[1] : "";
    const std::vector<std::string> rest(args.size() >= 2 ? args.begin() + 2 : args.end(), args.end());
    if (mode == "--help" || mode == "-h") {
        std::fputs(app::helpText().c_str(), stdout);
        return 0;
    }
    if (mode == "--version") {
        std::fputs("ruvex-voice " RUVEX_VOICE_VERSION "\n", stdout);
        return 0;
    }
    if (mode == "--polish") {
        core::RunLoop loop;
        text::Keychain keychain(platform::lnx::makeSecretStore());
        const auto settings = core::Defaults::standard();
        text::Polisher polisher(loop, keychain, settings);
        return app::cli::PolishCheck::run(loop, keychain, polisher, text::AiService::saved(settings), rest, std::cin,
                                          std::cout);
    }
    if (mode == "--download-model")
        return app::cli::runDownloadCommand();
    if (mode == "--diagnose")
        return app::cli::Diagnose::run(std::cout);
    if (mode == "--transcribe")
        return app::cli::TranscribeCommand::run(rest, std::cout, std::cerr);
    return app::runTrayApplication(argc, argv);
}
