#include "ui/AiServiceDialog.h"

#include "text/AiService.h"
#include "text/Polisher.h"
#include "ui/Look.h"

#include <QButtonGroup>
#include <QDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

namespace ui {

std::function<AiServiceDialog::Button(AiServiceDialog::Form&)> AiServiceDialog::chooser;

namespace {

constexpr int firstButton = 1000;

QString qt(const std::string& text) {
    return QString::fromStdString(text);
}

/// The service the form names, or why it names none.
std::pair<std::optional<text::AiService>, QString> chosen(const AiServiceDialog::Form& form) {
    if (form.deepSeek->isChecked())
        return {text::AiService{}, {}};
    text::AiService service{form.url->text().trimmed().toStdString(), form.model->text().trimmed().toStdString()};
    if (service.baseURL.empty())
        return {std::nullopt, QStringLiteral("Укажите адрес сервера.")};
    if (service.model.empty())
        return {std::nullopt, QStringLiteral("Укажите имя модели на сервере.")};
    if (auto refused = service.refusal())
        return {std::nullopt, qt(*refused)};
    return {service, {}};
}

/// A line saying which environment variable overrides the settings, if any.
QString overriddenBy() {
    QStringList names;
    for (const char* name : {"RUVEX_VOICE_AI_URL", "RUVEX_VOICE_AI_MODEL"}) {
        if (const char* value = std::getenv(name); value && *value)
            names << QString::fromLatin1(name);
    }
    return names.isEmpty() ? QString()
                           : QStringLiteral("Сейчас действует %1 из окружения: она важнее этих настроек.")
                                 .arg(names.join(QStringLiteral(" и ")));
}

} // namespace

void AiServiceDialog::editService(core::Defaults& settings, text::Polisher& polisher, QWidget* parent) {
    QDialog dialog(parent);
    dialog.setWindowTitle(QStringLiteral("Сервис ИИ"));
    dialog.setModal(true);

    auto* stack = new QVBoxLayout(&dialog);
    stack->setContentsMargins(20, 18, 20, 16);
    stack->setSpacing(8);
    stack->addWidget(look::makeLabel(QStringLiteral("Сервис ИИ"), look::systemFont(13, QFont::DemiBold), false));
    QLabel* informative = look::makeLabel(
        QStringLiteral("Куда уходит текст для стилей, перевода и исправления оговорок."), look::systemFont(11), true);
    informative->setFixedWidth(340);
    stack->addWidget(informative);

    Form form;
    form.dialog = &dialog;
    form.deepSeek = new QRadioButton(QStringLiteral("DeepSeek (облако)"));
    form.ownServer = new QRadioButton(QStringLiteral("Свой сервер"));
    auto* group = new QButtonGroup(&dialog);
    group->addButton(form.deepSeek);
    group->addButton(form.ownServer);
    stack->addSpacing(4);
    stack->addWidget(form.deepSeek);
    stack->addWidget(form.ownServer);

    form.url = new QLineEdit;
    form.url->setPlaceholderText(QStringLiteral("http://127.0.0.1:8080/v1"));
    form.model = new QLineEdit;
    form.model->setPlaceholderText(QStringLiteral("имя модели"));
    auto* fields = new QFormLayout;
    fields->setContentsMargins(24, 0, 0, 0);
    fields->addRow(QStringLiteral("Адрес"), form.url);
    fields->addRow(QStringLiteral("Модель"), form.model);
    stack->addLayout(fields);
    QLabel* hint = look::makeLabel(QStringLiteral("Любой сервер с API как у OpenAI: llama.cpp, Ollama, LM Studio, "
                                                  "vLLM. На этом компьютере ключ не нужен, другие адреса только "
                                                  "по https."),
                                   look::systemFont(11), true, look::secondaryLabelColor(dialog));
    hint->setFixedWidth(316);
    hint->setContentsMargins(24, 0, 0, 0);
    stack->addWidget(hint);
    if (const QString note = overriddenBy(); !note.isEmpty()) {
        QLabel* override = look::makeLabel(note, look::systemFont(11), true, look::secondaryLabelColor(dialog));
        override->setFixedWidth(340);
        stack->addWidget(override);
    }
    form.status = look::makeLabel(QString(), look::systemFont(11), true);
    form.status->setFixedWidth(340);
    form.status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    stack->addWidget(form.status);

    const text::AiService stored = text::AiService::stored(settings);
    const bool own = stored != text::AiService{};
    (own ? form.ownServer : form.deepSeek)->setChecked(true);
    if (own) {
        form.url->setText(qt(stored.baseURL));
        form.model->setText(qt(stored.model));
    }
    auto follow = [&form] {
        form.url->setEnabled(form.ownServer->isChecked());
        form.model->setEnabled(form.ownServer->isChecked());
        form.status->clear();
    };
    follow();
    QObject::connect(form.ownServer, &QRadioButton::toggled, &dialog, follow);

    for (const QString& title : {QStringLiteral("Сохранить"), QStringLiteral("Отмена"), QStringLiteral("Проверить")})
        form.buttons.push_back(new QPushButton(title));
    form.buttons[0]->setDefault(true);
    for (int i = 0; i < 2; ++i)
        QObject::connect(form.buttons[i], &QPushButton::clicked, &dialog,
                         [&dialog, i] { dialog.done(firstButton + i); });
    // The answer may come after the dialog closed: it then finds the token gone and does nothing.
    auto open = std::make_shared<bool>(true);
    QPushButton* check = form.buttons[2];
    QObject::connect(check, &QPushButton::clicked, &dialog, [&form, &polisher, check, open] {
        auto [service, why] = chosen(form);
        if (!service) {
            form.status->setText(why);
            return;
        }
        check->setEnabled(false);
        form.status->setText(QStringLiteral("Проверяю…"));
        std::weak_ptr<bool> living = open;
        polisher.check(*service, [&form, check, living](text::Polisher::CheckResult result) {
            if (living.expired())
                return;
            check->setEnabled(true);
            form.status->setText(qt(result.says));
        });
    });

    // The check stands apart on the left; the first button stands rightmost.
    auto* row = new QHBoxLayout;
    row->addWidget(check);
    row->addStretch(1);
    row->addWidget(form.buttons[1]);
    row->addWidget(form.buttons[0]);
    stack->addSpacing(4);
    stack->addLayout(row);
    stack->setSizeConstraint(QLayout::SetFixedSize);

    for (;;) {
        int response = QDialog::Rejected;
        if (chooser) {
            dialog.show();
            response = firstButton + static_cast<int>(chooser(form));
        } else {
            dialog.raise();
            dialog.activateWindow();
            response = dialog.exec();
        }
        if (response != firstButton + static_cast<int>(Button::save))
            break;
        auto [service, why] = chosen(form);
        if (service) {
            if (!text::AiService::save(settings, *service))
                form.status->setText(QStringLiteral("Не получилось сохранить настройки."));
            else
                break;
        } else {
            form.status->setText(why);
        }
    }
    dialog.hide();
}

} // namespace ui
