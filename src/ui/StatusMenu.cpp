#include "ui/StatusMenu.h"

#include "core/Unicode.h"

#include <QAction>
#include <QKeySequence>
#include <QMenu>
#include <QStringList>

#include <cmath>

namespace ui {

namespace {

QString qt(const std::string& text) {
    return QString::fromStdString(text);
}

/// Adds a disabled line without an action.
void addNote(QMenu& menu, const QString& title) {
    menu.addAction(title)->setEnabled(false);
}

/// Adds an item calling `work` (when set); checkable with `checked` when given.
QAction* addItem(QMenu& menu, const QString& title, const std::function<void()>& work,
                 std::optional<bool> checked = std::nullopt) {
    QAction* action = menu.addAction(title);
    if (checked) {
        action->setCheckable(true);
        action->setChecked(*checked);
    }
    QObject::connect(action, &QAction::triggered, &menu, [work] {
        if (work)
            work();
    });
    return action;
}

/// Whether `c` ends a line: line feed, carriage return, next line, line and paragraph separators.
bool isNewline(QChar c) {
    return c == u'\n' || c == u'\r' || c == QChar(0x0085) || c == QChar::LineSeparator ||
           c == QChar::ParagraphSeparator;
}

void addModelStatus(QMenu& menu, const StatusMenu::MenuState& state, const StatusMenu::MenuActions& actions) {
    using Kind = speech::ModelState::Kind;
    switch (state.model.kind) {
    case Kind::failed:
        addNote(menu, QStringLiteral("Модель речи не скачалась: ") + qt(state.model.message));
        addItem(menu, QStringLiteral("Скачать еще раз"), actions.retryDownload);
        break;
    case Kind::downloading: {
        const auto percent = static_cast<long long>(std::trunc(state.model.fraction * 100));
        addNote(menu, QStringLiteral("Модель речи скачивается: %1%").arg(percent));
        break;
    }
    case Kind::missing:
    case Kind::ready:
        addNote(menu, state.engineError ? qt(*state.engineError) : QStringLiteral("Модель речи загружается…"));
        break;
    }
}

void addStyleMenu(QMenu& menu, const StatusMenu::MenuState& state, const StatusMenu::MenuActions& actions) {
    QString title = QStringLiteral("Стиль: ") + QString::fromUtf8(text::styles::title(state.preset.style));
    if (state.preset.english)
        title += QStringLiteral(", на английском");
    QMenu* styles = menu.addMenu(title);
    styles->setToolTipsVisible(true);
    for (const text::Style style : text::styles::allCases) {
        const std::string raw = text::styles::rawValue(style);
        QAction* item = addItem(
            *styles, QString::fromUtf8(text::styles::title(style)),
            [choose = actions.chooseStyle, raw] {
                if (choose)
                    choose(raw);
            },
            style == state.preset.style);
        item->setData(qt(raw));
        item->setToolTip(QString::fromUtf8(text::styles::hint(style)));
    }
    styles->addSeparator();
    addItem(*styles, QStringLiteral("Переводить на английский"), actions.toggleEnglish, state.preset.english)
        ->setToolTip(QStringLiteral(
            "Для постов в X (Twitter): говорите по-русски, вставляется пост на английском в выбранном стиле."));
    if (!state.aiReady)
        addNote(*styles, QStringLiteral("Стили и перевод делает ИИ: нужен ключ"));
}

void addRecentMenu(QMenu& menu, const StatusMenu::MenuState& state, const StatusMenu::MenuActions& actions) {
    QMenu* recent = menu.addMenu(QStringLiteral("Последние"));
    recent->setToolTipsVisible(true);
    if (state.history.empty()) {
        addNote(*recent, QStringLiteral("Пока пусто"));
        return;
    }
    for (const std::string& entry : state.history) {
        QAction* item = addItem(*recent, StatusMenu::recentTitle(entry), [copy = actions.copyRecent, entry] {
            if (copy)
                copy(entry);
        });
        item->setData(qt(entry));
        item->setToolTip(QStringLiteral("Скопировать"));
    }
}

} // namespace

void StatusMenu::build(QMenu& menu, const MenuState& state, const MenuActions& actions) {
    // clear() keeps submenus that the menu owns: drop those of the last build.
    for (QMenu* old : menu.findChildren<QMenu*>(Qt::FindDirectChildrenOnly))
        old->deleteLater();
    menu.clear();
    menu.setToolTipsVisible(true);

    // Nobody hears the key when the program cannot read the keyboard: the menu says so first.
    const auto problem = keyboardProblem(state.access);
    if (state.access.keys != platform::KeyAccess::ready && problem)
        addNote(menu, qt(*problem));
    else
        addNote(menu, QStringLiteral("Держите ") + qt(state.keyShort) + QStringLiteral(" и говорите"));
    if (state.access.keys == platform::KeyAccess::ready && problem)
        addNote(menu, qt(*problem));
    if (!state.engineLoaded)
        addModelStatus(menu, state, actions);
    if (!state.trusted)
        addItem(menu, QStringLiteral("Разрешить доступ к клавиатуре…"), actions.openOnboarding);
    menu.addSeparator();

    addStyleMenu(menu, state, actions);
    addItem(menu,
            state.aiReady ? QStringLiteral("Исправлять оговорки через ИИ")
                          : QStringLiteral("Исправлять оговорки через ИИ (нужен ключ)"),
            actions.toggleAI, state.aiReady && state.aiCleanup)
        ->setToolTip(QStringLiteral(
            "«до пятницы, нет, до четверга» → «до четверга». В DeepSeek уходит только фраза с оговоркой."));
    addItem(menu, state.hasKey ? QStringLiteral("Ключ ИИ задан…") : QStringLiteral("Ключ ИИ…"), actions.editKey);
    addItem(menu, QStringLiteral("Сервис ИИ…"), actions.editService);
    addItem(menu,
            state.dictionaryCount == 0 ? QStringLiteral("Словарь…")
                                       : QStringLiteral("Словарь (%1)…").arg(state.dictionaryCount),
            actions.openVocabulary);
    addRecentMenu(menu, state, actions);
    addItem(menu, QStringLiteral("Запускать при входе"), actions.toggleLogin, state.loginEnabled);
    menu.addSeparator();
    addItem(menu, QStringLiteral("Настройка…"), actions.openOnboarding);
    menu.addSeparator();
    addItem(menu, QStringLiteral("Выйти"), actions.quit)->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
}

std::optional<std::string> StatusMenu::keyboardProblem(const platform::Access& access) {
    switch (access.keys) {
    case platform::KeyAccess::denied:
        return "Клавиша не слышна: нет доступа к клавиатуре";
    case platform::KeyAccess::relogin:
        return "Клавиша не слышна: войдите в сеанс заново";
    case platform::KeyAccess::noDevices:
        return "Клавиша не слышна: клавиатура не видна системе";
    case platform::KeyAccess::ready:
        break;
    }
    if (access.paste == platform::PasteAccess::unavailable)
        return "Вставлять нечем: текст останется в буфере обмена";
    return std::nullopt;
}

QString StatusMenu::recentTitle(const std::string& entry) {
    QStringList lines;
    QString line;
    for (const QChar c : qt(entry)) {
        if (isNewline(c)) {
            if (!line.isEmpty())
                lines << line;
            line.clear();
        } else {
            line += c;
        }
    }
    if (!line.isEmpty())
        lines << line;
    const std::string folded = lines.join(u' ').toStdString();
    const auto characters = core::unicode::characters(folded);
    if (characters.size() <= 60)
        return qt(folded);
    const auto cut = static_cast<std::size_t>(characters[60].data() - folded.data());
    return qt(folded.substr(0, cut)) + QStringLiteral("…");
}

} // namespace ui
