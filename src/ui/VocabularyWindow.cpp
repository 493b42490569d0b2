#include "ui/VocabularyWindow.h"

#include "text/Vocabulary.h"
#include "ui/EditMenu.h"
#include "ui/Look.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>
#include <QWidget>

namespace ui {

namespace {

/// The editor's text with line breaks as "\n". Unlike toPlainText(), it keeps non-breaking spaces, which
/// may be part of a term or a replacement.
std::string wholeText(const QPlainTextEdit& editor) {
    QString text = editor.document()->toRawText();
    text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    text.replace(QChar::LineSeparator, QLatin1Char('\n'));
    return text.toStdString();
}

} // namespace

VocabularyWindow::VocabularyWindow() = default;
VocabularyWindow::~VocabularyWindow() = default;

void VocabularyWindow::build() {
    frame = std::make_unique<QWidget>();
    frame->setWindowTitle(QStringLiteral("Словарь Ruvex Voice"));

    auto* stack = new QVBoxLayout(frame.get());
    stack->setContentsMargins(16, 14, 16, 14);
    stack->setSpacing(10);
    stack->setMenuBar(editOnlyMenu(frame.get()));

    QLabel* explanation = look::makeLabel(
        QStringLiteral("Термин: как слово пишется, модель будет его ждать. Замена: «что слышится → как написать», "
                       "срабатывает всегда. Термины чуть замедляют распознавание, замены нет. Можно диктовать "
                       "прямо сюда."),
        look::systemFont(12), true, look::secondaryLabelColor(*frame));
    stack->addWidget(explanation);

    // A plain-text editor: Qt makes no smart quote or dash substitutions, so the replacement lines'
    // arrows and quotes stay exactly as typed.
    editor = look::makeTextArea(look::monospaceFont(13));
    editor->setMinimumHeight(200);
    stack->addWidget(editor, 1);

    cancel = new QPushButton(QStringLiteral("Отмена"));
    cancel->setShortcut(QKeySequence(Qt::Key_Escape));
    cancel->setAutoDefault(false);
    save = new QPushButton(QStringLiteral("Сохранить"));
    save->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    save->setAutoDefault(false);
    QObject::connect(cancel, &QPushButton::clicked, frame.get(), [this] { close(); });
    QObject::connect(save, &QPushButton::clicked, frame.get(), [this] { saveAndClose(); });

    auto* buttons = new QHBoxLayout;
    buttons->setContentsMargins(0, 0, 0, 0);
    buttons->addStretch(1);
    buttons->addWidget(cancel);
    buttons->addWidget(save);
    stack->addLayout(buttons);

    frame->resize(540, 440 + stack->menuBar()->sizeHint().height());
    frame->setMinimumSize(420, 300);
    if (QScreen* screen = QGuiApplication::primaryScreen())
        frame->move(screen->availableGeometry().center() - frame->rect().center());
}

void VocabularyWindow::show() {
    if (!frame)
        build();
    editor->setPlainText(QString::fromStdString(text::Vocabulary::text()));
    frame->show();
    frame->raise();
    frame->activateWindow();
    editor->setFocus(Qt::OtherFocusReason);
}

void VocabularyWindow::saveAndClose() {
    if (!frame)
        return;
    if (onSave)
        onSave(wholeText(*editor));
    frame->hide();
}

void VocabularyWindow::close() {
    if (frame)
        frame->hide();
}

} // namespace ui
