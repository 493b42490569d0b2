#include "ui/KeyDialog.h"

#include "text/Keychain.h"
#include "ui/Look.h"

#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <optional>
#include <string>

namespace ui {

std::function<KeyDialog::Button(KeyDialog::Form&)> KeyDialog::chooser;

namespace {

/// Response codes, as the platform's alerts number their buttons.
constexpr int firstButton = 1000;

} // namespace

void KeyDialog::editKey(text::Keychain& keychain, QWidget* parent) {
    QDialog dialog(parent);
    dialog.setWindowTitle(QStringLiteral("Ключ DeepSeek"));
    dialog.setModal(true);

    auto* stack = new QVBoxLayout(&dialog);
    stack->setContentsMargins(20, 18, 20, 16);
    stack->setSpacing(8);
    stack->addWidget(look::makeLabel(QStringLiteral("Ключ DeepSeek"), look::systemFont(13, QFont::DemiBold), false));
    QLabel* informative = look::makeLabel(QStringLiteral("Нужен для исправления оговорок, стилей и перевода. Хранится "
                                                         "в системном хранилище паролей. Пустое поле удаляет ключ."),
                                          look::systemFont(11), true);
    informative->setFixedWidth(300);
    stack->addWidget(informative);

    auto* field = new QLineEdit;
    field->setEchoMode(QLineEdit::Password);
    field->setFixedSize(300, 24);
    field->setPlaceholderText(QStringLiteral("sk-…"));
    field->setText(QString::fromStdString(keychain.aiKey().value_or("")));
    stack->addSpacing(4);
    stack->addWidget(field);
    stack->addSpacing(8);

    Form form{&dialog, field, {}};
    const std::optional<std::string> sibling = text::Keychain::ruvexKey();
    QStringList titles = {QStringLiteral("Сохранить"), QStringLiteral("Отмена")};
    if (sibling)
        titles << QStringLiteral("Взять из Ruvex");
    for (int i = 0; i < titles.size(); ++i) {
        auto* button = new QPushButton(titles[i]);
        QObject::connect(button, &QPushButton::clicked, &dialog, [&dialog, i] { dialog.done(firstButton + i); });
        form.buttons.push_back(button);
    }
    form.buttons[0]->setDefault(true);

    // The first button stands rightmost, the others to its left in order.
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    for (auto it = form.buttons.rbegin(); it != form.buttons.rend(); ++it)
        row->addWidget(*it);
    stack->addLayout(row);
    dialog.setFixedSize(dialog.sizeHint());

    field->setFocus(Qt::OtherFocusReason);
    int response = QDialog::Rejected;
    if (chooser) {
        dialog.show();
        dialog.raise();
        dialog.activateWindow();
        response = firstButton + static_cast<int>(chooser(form));
        dialog.hide();
    } else {
        dialog.raise();
        dialog.activateWindow();
        response = dialog.exec();
    }

    if (response == firstButton + static_cast<int>(Button::save))
        keychain.setAiKey(field->text().toStdString());
    else if (response == firstButton + static_cast<int>(Button::ruvex) && sibling)
        keychain.setAiKey(sibling);
}

} // namespace ui
