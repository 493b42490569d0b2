#include "ui/Onboarding.h"

#include "core/Defaults.h"
#include "ui/EditMenu.h"
#include "ui/Look.h"
#include "ui/Marks.h"

#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QStandardPaths>
#include <QVBoxLayout>
#include <QWidget>

#include <cmath>

namespace ui {

/// The window itself: tells the owner when it closes, and takes Return as "Готово" when no field used it.
class OnboardingFrame : public QWidget {
public:
    explicit OnboardingFrame(Onboarding& owner) : owner(owner) {}

protected:
    void closeEvent(QCloseEvent* event) override {
        owner.windowWillClose();
        QWidget::closeEvent(event);
    }
    void keyPressEvent(QKeyEvent* event) override {
        if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
            (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
            owner.done->animateClick();
            return;
        }
        QWidget::keyPressEvent(event);
    }

private:
    Onboarding& owner;
};

namespace {

constexpr int markWidth = 22;

QFrame* separator() {
    auto* line = new QFrame;
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

QString percentOf(double fraction) {
    return QString::number(static_cast<long long>(std::trunc(fraction * 100)));
}

} // namespace

void Onboarding::Row::set(bool isDone, bool busy) {
    const Mark shape = isDone ? Mark::checkmarkCircleFill : busy ? Mark::arrowDownCircle : Mark::circle;
    const QColor tint = isDone ? look::labelColor(*mark) : look::tertiaryLabelColor(*mark);
    mark->setPixmap(markPixmap(shape, 17, tint));
    mark->setAccessibleName(isDone ? QStringLiteral("готово") : QStringLiteral("не готово"));
    symbol = markName(shape);
    button->setVisible(!isDone);
}

Onboarding::Onboarding(core::Defaults& settings) : settings(settings) {
    timer.setInterval(500);
    QObject::connect(&timer, &QTimer::timeout, &timer, [this] { refresh(); });
}

Onboarding::~Onboarding() = default;

QWidget* Onboarding::window() const {
    return frame.get();
}

bool Onboarding::isDone() const {
    return settings.boolean("onboardingDone").value_or(false);
}

void Onboarding::setDone(bool isDone) {
    settings.setBoolean("onboardingDone", isDone);
}

std::optional<QStringList> Onboarding::findSoundSettings() {
    const QList<QStringList> candidates = {
        {"pavucontrol"},
        {"gnome-control-center", "sound"},
        {"kcmshell6", "kcm_pulseaudio"},
        {"kcmshell5", "kcm_pulseaudio"},
    };
    for (const QStringList& command : candidates) {
        const QString program = QStandardPaths::findExecutable(command.front());
        if (!program.isEmpty())
            return QStringList{program} + command.mid(1);
    }
    return std::nullopt;
}

void Onboarding::show() {
    if (!frame)
        build();
    refresh();
    frame->show();
    frame->raise();
    frame->activateWindow();
    timer.start();
}

void Onboarding::build() {
    soundSettings = findSoundSettings();
    frame = std::make_unique<OnboardingFrame>(*this);
    frame->setWindowTitle(QStringLiteral("Ruvex Voice"));

    auto* stack = new QVBoxLayout(frame.get());
    stack->setContentsMargins(24, 22, 24, 18);
    stack->setSpacing(0);
    stack->setMenuBar(editOnlyMenu(frame.get()));
    // One layout tree, without nested widgets, so that the wrapped labels' heights are known at once.
    bool first = true;
    auto space = [&](int spacingBefore) {
        if (!first)
            stack->addSpacing(spacingBefore);
        first = false;
    };
    auto add = [&](QWidget* widget, int spacingBefore = 14) {
        space(spacingBefore);
        stack->addWidget(widget);
    };
    auto addLine = [&](QLayout* line) {
        space(14);
        stack->addLayout(line);
    };

    add(look::makeLabel(QStringLiteral("Говорите вместо того, чтобы печатать"), look::systemFont(20, QFont::DemiBold),
                        false));
    add(look::makeLabel(QStringLiteral("Держите клавишу, говорите, отпустите: текст появится там, где стоит курсор, "
                                       "в любой программе. Речь распознается на этом компьютере, звук никуда не "
                                       "отправляется."),
                        look::systemFont(13), true, look::secondaryLabelColor(*frame)),
        6);
    add(separator());

    struct RowText {
        const char* key;
        const char* title;
        const char* detail;
        const char* button;
        void (Onboarding::*action)();
    };
    const RowText rowTexts[] = {
        {"model", "Модель речи", "Скачивается один раз, 232 МБ. Дальше все работает без интернета.", "Повторить",
         &Onboarding::retryDownload},
        {"mic", "Микрофон", "Ruvex Voice слушает, только пока вы держите клавишу.", "Разрешить",
         &Onboarding::askMicrophone},
        {"keys", "Доступ к клавиатуре",
         "Нужен, чтобы заметить нажатие клавиши и вставить текст. Откроются Системные настройки: включите Ruvex "
         "Voice в списке «Универсальный доступ».",
         "Открыть настройки", &Onboarding::askAccessibility},
    };
    for (const RowText& text : rowTexts) {
        Row row;
        row.mark = new QLabel;
        row.mark->setFixedWidth(markWidth);
        row.mark->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        row.detail = look::makeLabel(QString::fromUtf8(text.detail), look::systemFont(12), true,
                                     look::secondaryLabelColor(*frame));
        row.button = new QPushButton(QString::fromUtf8(text.button));
        row.button->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
        row.button->setAutoDefault(false);
        const auto action = text.action;
        QObject::connect(row.button, &QPushButton::clicked, frame.get(), [this, action] { (this->*action)(); });

        auto* texts = new QVBoxLayout;
        texts->setSpacing(2);
        texts->addWidget(look::makeLabel(QString::fromUtf8(text.title), look::systemFont(13, QFont::DemiBold), false));
        texts->addWidget(row.detail);
        row.view = new QHBoxLayout;
        row.view->setSpacing(12);
        row.view->addWidget(row.mark, 0, Qt::AlignTop);
        row.view->addLayout(texts, 1);
        row.view->addWidget(row.button, 0, Qt::AlignTop);
        addLine(row.view);
        rows.emplace(text.key, row);
    }
    addLine(buildKeySection());
    add(separator());

    add(look::makeLabel(QStringLiteral("Попробуйте"), look::systemFont(13, QFont::DemiBold), false));
    hint = look::makeLabel(QString(), look::systemFont(12), true, look::secondaryLabelColor(*frame));
    add(hint, 4);
    tryArea = look::makeTextArea(look::systemFont(14));
    tryArea->setFixedHeight(72);
    QObject::connect(tryArea, &QPlainTextEdit::textChanged, frame.get(), [this] { textDidChange(); });
    add(tryArea);

    done = new QPushButton(QStringLiteral("Готово"));
    done->setAutoDefault(false);
    QObject::connect(done, &QPushButton::clicked, frame.get(), [this] { finish(); });
    auto* finishLine = new QHBoxLayout;
    finishLine->addStretch(1);
    finishLine->addWidget(done);
    addLine(finishLine);

    fitHeight();
    if (QScreen* screen = QGuiApplication::primaryScreen())
        frame->move(screen->availableGeometry().center() - frame->rect().center());
}

QLayout* Onboarding::buildKeySection() {
    popup = new QComboBox;
    for (const std::string& title : keyTitles)
        popup->addItem(QString::fromStdString(title));
    popup->setCurrentIndex(chosenKey);
    popup->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    QObject::connect(popup, &QComboBox::activated, frame.get(), [this](int index) { keyChanged(index); });

    auto* icon = new QLabel;
    icon->setFixedWidth(markWidth);
    icon->setPixmap(markPixmap(Mark::keyboard, 15, look::secondaryLabelColor(*frame)));

    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    texts->addWidget(look::makeLabel(QStringLiteral("Клавиша"), look::systemFont(13, QFont::DemiBold), false));
    texts->addWidget(
        look::makeLabel(QStringLiteral("Ее держат, пока говорят. Правая, чтобы не мешать обычным сочетаниям."),
                        look::systemFont(12), true, look::secondaryLabelColor(*frame)));

    auto* line = new QHBoxLayout;
    line->setSpacing(12);
    line->addWidget(icon, 0, Qt::AlignTop);
    line->addLayout(texts, 1);
    line->addWidget(popup, 0, Qt::AlignTop);
    return line;
}

void Onboarding::refresh() {
    if (!frame)
        return;
    const Status snapshot = status ? status() : Status{};
    const Microphone mic = microphone ? microphone() : Microphone::unavailable;

    Row& model = rows.at("model");
    using Kind = speech::ModelState::Kind;
    switch (snapshot.model.kind) {
    case Kind::downloading:
        model.detail->setText(QStringLiteral("Скачивается: ") + percentOf(snapshot.model.fraction) +
                              QStringLiteral("% из 232 МБ. Один раз, дальше без интернета."));
        model.set(false, true);
        model.button->hide();
        break;
    case Kind::failed:
        model.detail->setText(QStringLiteral("Не скачалась: ") + QString::fromStdString(snapshot.model.message));
        model.set(false, false);
        break;
    case Kind::missing:
    case Kind::ready:
        model.detail->setText(snapshot.engineReady ? QStringLiteral("Скачана. Все работает без интернета.")
                                                   : QStringLiteral("Загружается…"));
        model.set(snapshot.engineReady, !snapshot.engineReady);
        model.button->hide();
        break;
    }

    Row& micRow = rows.at("mic");
    micRow.set(mic == Microphone::ready, false);
    micRow.detail->setText(mic == Microphone::unavailable
                               ? QStringLiteral("Микрофон не найден или выключен. Проверьте настройки звука.")
                               : QStringLiteral("Ruvex Voice слушает, только пока вы держите клавишу."));
    micRow.button->setText(mic == Microphone::notAsked ? QStringLiteral("Разрешить")
                                                       : QStringLiteral("Открыть настройки"));
    if (mic == Microphone::unavailable && !soundSettings)
        micRow.button->hide();

    refreshKeys(snapshot);

    // The success line stays while the try area holds what the user dictated or typed.
    if (tryHoldsText()) {
        textDidChange();
        return;
    }
    const QString k = QString::fromStdString(snapshot.keyName);
    if (snapshot.engineReady && mic == Microphone::ready && snapshot.trusted)
        hint->setText(QStringLiteral("Нажмите в поле ниже, зажмите ") + k +
                      QStringLiteral(" и скажите: «Привет, это проверка». Отпустите клавишу."));
    else
        hint->setText(QStringLiteral("Когда все отметки выше будут стоять, зажмите ") + k +
                      QStringLiteral(" и скажите что-нибудь: текст появится здесь."));
    fitHeight();
}

void Onboarding::refreshKeys(const Status& snapshot) {
    using platform::KeyAccess;
    using platform::PasteAccess;
    keyAccess = snapshot.access;
    Row& keys = rows.at("keys");
    const bool pastes = snapshot.access.paste != PasteAccess::unavailable;
    keys.set(snapshot.trusted && pastes, false);
    QString detail;
    QString button;
    switch (snapshot.trusted ? KeyAccess::ready : snapshot.access.keys) {
    case KeyAccess::ready:
        if (!snapshot.trusted) {
            detail = QStringLiteral("Нужен, чтобы заметить нажатие клавиши и вставить текст. Откроются Системные "
                                    "настройки: включите Ruvex Voice в списке «Универсальный доступ».");
            button = QStringLiteral("Открыть настройки");
        } else if (snapshot.access.paste == PasteAccess::askFirst) {
            detail = QStringLiteral("Включен: Ruvex Voice замечает клавишу. При первой вставке система спросит, "
                                    "можно ли вводить текст.");
        } else if (!pastes) {
            detail = QStringLiteral("Клавиша слышна, но вставлять текст нечем: он останется в буфере обмена, "
                                    "вставьте его сами (Ctrl+V).");
        } else {
            detail = QStringLiteral("Включен: Ruvex Voice замечает клавишу и вставляет текст.");
        }
        break;
    case KeyAccess::denied:
        detail = QStringLiteral("Чтобы слышать клавишу, программе нужно читать клавиатуру. Выполните в терминале и "
                                "войдите в сеанс заново:\n") +
                 QString::fromStdString(snapshot.access.joinCommand) +
                 QStringLiteral("\nТак любая ваша программа сможет читать и вводить нажатия клавиш.");
        button = QStringLiteral("Скопировать команду");
        break;
    case KeyAccess::relogin:
        detail = QStringLiteral("Вы уже в группе input — выйдите из сеанса и войдите снова.");
        break;
    case KeyAccess::noDevices:
        detail = QStringLiteral("Клавиатура не видна системе: программа не услышит клавишу.");
        break;
    }
    keys.detail->setText(detail);
    // The command must be copyable by hand too.
    keys.detail->setTextInteractionFlags(Qt::TextSelectableByMouse);
    if (button.isEmpty()) {
        keys.button->hide();
    } else if (keys.button->text() != QStringLiteral("Скопировано") || snapshot.trusted) {
        keys.button->setText(button);
    }
}

void Onboarding::fitHeight() {
    // Not resizable: the window is exactly as tall as its content at 560 wide, which changes with the
    // details' lengths.
    QLayout* layout = frame->layout();
    layout->activate();
    const int height =
        layout->hasHeightForWidth() ? layout->totalHeightForWidth(560) : layout->totalSizeHint().height();
    if (frame->width() != 560 || frame->height() != height)
        frame->setFixedSize(560, height);
}

void Onboarding::retryDownload() {
    if (onRetryDownload)
        onRetryDownload();
}

void Onboarding::askMicrophone() {
    const Microphone mic = microphone ? microphone() : Microphone::unavailable;
    if (mic == Microphone::notAsked) {
        if (onAskMicrophone)
            onAskMicrophone();
        return;
    }
    if (soundSettings && !soundSettings->isEmpty())
        QProcess::startDetached(soundSettings->front(), soundSettings->mid(1));
}

void Onboarding::askAccessibility() {
    if (keyAccess.keys == platform::KeyAccess::denied && !keyAccess.joinCommand.empty()) {
        if (onCopyCommand)
            onCopyCommand(keyAccess.joinCommand);
        else
            QGuiApplication::clipboard()->setText(QString::fromStdString(keyAccess.joinCommand));
        rows.at("keys").button->setText(QStringLiteral("Скопировано"));
        return;
    }
    if (onAskAccessibility)
        onAskAccessibility();
}

void Onboarding::keyChanged(int index) {
    if (index < 0 || index >= static_cast<int>(keyTitles.size()))
        return;
    chosenKey = index;
    if (onKeyChange)
        onKeyChange(index);
    refresh();
}

void Onboarding::finish() {
    setDone(true);
    if (frame)
        frame->close();
    if (onFinish)
        onFinish();
}

void Onboarding::windowWillClose() {
    timer.stop();
}

bool Onboarding::tryHoldsText() const {
    return tryArea && !tryArea->toPlainText().trimmed().isEmpty();
}

void Onboarding::textDidChange() {
    if (tryHoldsText())
        hint->setText(QStringLiteral("Получилось. Так работает в любой программе: в почте, Telegram, заметках."));
    fitHeight();
}

} // namespace ui
