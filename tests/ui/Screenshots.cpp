// Draws the pill, the tray glyph, the menu and the windows into PNG files for people to look at:
//   screenshots FOLDER
// Run offscreen (make screenshots does); nothing is checked here.
#include "core/RunLoop.h"
#include "text/Polisher.h"
#include "ui/AiServiceDialog.h"
#include "ui/Glyph.h"
#include "ui/Onboarding.h"
#include "ui/Overlay.h"
#include "ui/PillView.h"
#include "ui/StatusMenu.h"
#include "ui/VocabularyWindow.h"

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QRadioButton>
#include <QWidget>

#include <cstdio>
#include <filesystem>

namespace {

std::filesystem::path folder;

void save(QWidget& widget, const char* name) {
    widget.grab().save(QString::fromStdString((folder / (std::string(name) + ".png")).string()));
    std::printf("%s\n", (folder / (std::string(name) + ".png")).c_str());
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    folder = argv[1];
    std::filesystem::create_directories(folder);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);

    ui::Overlay overlay;
    overlay.show(ui::Overlay::State::listening());
    for (float v : {0.0f, 0.02f, 0.08f, 0.15f, 0.05f, 0.12f, 0.01f, 0.04f, 0.1f})
        overlay.level(v);
    save(*overlay.pill(), "pill-listening");
    overlay.setTag("EN · Деловой");
    overlay.show(ui::Overlay::State::thinking());
    overlay.pill()->setPhase(1.0);
    save(*overlay.pill(), "pill-thinking-tag");
    overlay.flash("Модель речи не загрузилась");
    save(*overlay.pill(), "pill-message");

    for (bool recording : {false, true})
        ui::optionGlyphImage(recording, Qt::black, 2)
            .save(QString::fromStdString((folder / (recording ? "glyph-recording.png" : "glyph-idle.png")).string()));

    QMenu menu;
    ui::StatusMenu::MenuState state;
    state.keyShort = "правый Alt";
    state.hasKey = state.aiReady = true;
    state.model = speech::ModelState::downloading(0.427);
    state.dictionaryCount = 3;
    state.history = {"Привет, это проверка."};
    ui::StatusMenu::build(menu, state, {});
    menu.popup(QPoint(10, 10));
    save(menu, "status-menu");

    core::Defaults settings("/dev/null/settings.json");
    ui::Onboarding onboarding(settings);
    onboarding.keyTitles = {"Правый Alt", "Правый Super"};
    onboarding.status = [] {
        return ui::Onboarding::Status{speech::ModelState::downloading(0.42), false, true, "правый Alt", {}};
    };
    onboarding.microphone = [] { return ui::Onboarding::Microphone::ready; };
    onboarding.show();
    save(*onboarding.window(), "first-run-window");

    ui::VocabularyWindow vocabulary;
    vocabulary.show();
    save(*vocabulary.window(), "vocabulary-editor");

    core::RunLoop loop;
    text::Keychain keychain(nullptr);
    text::Polisher polisher(loop, keychain, settings);
    ui::AiServiceDialog::chooser = [](ui::AiServiceDialog::Form& form) {
        form.ownServer->setChecked(true);
        form.url->setText("http://127.0.0.1:8080/v1");
        form.model->setText("qwen2.5-7b-instruct");
        form.status->setText("Сервер ответил: «Готово»");
        form.dialog->adjustSize();
        save(*form.dialog, "ai-service-dialog");
        return ui::AiServiceDialog::Button::cancel;
    };
    ui::AiServiceDialog::editService(settings, polisher);
    return 0;
}
