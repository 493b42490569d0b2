#include "GuiTest.h"

#include "platform/SecretStore.h"
#include "support/TempDir.h"
#include "text/Keychain.h"
#include "ui/KeyDialog.h"

#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>

using ui::KeyDialog;

namespace {

/// Keeps secrets in memory and counts what it was asked.
class MemoryStore : public platform::SecretStore {
public:
    std::optional<std::string> lookup(const std::string& service, const std::string& account) override {
        ++lookups;
        const auto found = secrets.find(service + "/" + account);
        return found == secrets.end() ? std::nullopt : std::optional(found->second);
    }
    bool store(const std::string& service, const std::string& account, const std::string&,
               const std::string& secret) override {
        secrets[service + "/" + account] = secret;
        return true;
    }
    bool clear(const std::string& service, const std::string& account) override {
        secrets.erase(service + "/" + account);
        return true;
    }

    std::map<std::string, std::string> secrets;
    int lookups = 0;
};

class KeyDialogTest : public ::testing::Test {
protected:
    KeyDialogTest() { text::Keychain::useStore(store); }
    ~KeyDialogTest() override {
        KeyDialog::chooser = nullptr;
        text::Keychain::useStore(nullptr);
    }

    /// Opens the dialog; `choose` sees it and picks a button.
    void open(const std::function<KeyDialog::Button(KeyDialog::Form&)>& choose) {
        opened = 0;
        KeyDialog::chooser = [&](KeyDialog::Form& form) {
            ++opened;
            last.clear();
            for (QPushButton* button : form.buttons)
                last.push_back(button->text().toStdString());
            return choose(form);
        };
        KeyDialog::editKey();
    }

    std::optional<std::string> stored() const {
        const auto found = store->secrets.find("app.ruvex.voice/deepseek");
        return found == store->secrets.end() ? std::nullopt : std::optional(found->second);
    }

    testsupport::IsolatedHome home;
    std::shared_ptr<MemoryStore> store = std::make_shared<MemoryStore>();
    int opened = 0;
    std::vector<std::string> last;
};

TEST_F(KeyDialogTest, SavesTheTrimmedKeyAndAnEmptyFieldRemovesIt) {
    open([](KeyDialog::Form& form) {
        EXPECT_EQ(form.dialog->windowTitle(), "Ключ DeepSeek");
        EXPECT_EQ(form.field->echoMode(), QLineEdit::Password);
        EXPECT_EQ(form.field->size(), QSize(300, 24));
        EXPECT_EQ(form.field->placeholderText(), "sk-…");
        QStringList texts;
        for (const QLabel* label : form.dialog->findChildren<QLabel*>())
            texts << label->text();
        EXPECT_EQ(texts, (QStringList{"Ключ DeepSeek", "Нужен для исправления оговорок, стилей и перевода. Хранится в "
                                                       "системном хранилище паролей. Пустое поле удаляет ключ."}));
        EXPECT_TRUE(form.field->text().isEmpty());
        EXPECT_TRUE(guitest::processUntil([&] { return form.field->hasFocus(); })) << "focus in the field";
        form.field->setText("  sk-new key\n");
        guitest::screenshot(*form.dialog, "key-dialog");
        return KeyDialog::Button::save;
    });
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(last, (std::vector<std::string>{"Сохранить", "Отмена"})) << "no third button without a sibling key";
    EXPECT_EQ(stored(), "sk-new key");
    EXPECT_EQ(text::Keychain::aiKey(), "sk-new key");

    // Saving untouched stores the same key again; the field shows it (as bullets).
    open([](KeyDialog::Form& form) {
        EXPECT_EQ(form.field->text(), "sk-new key");
        return KeyDialog::Button::save;
    });
    EXPECT_EQ(stored(), "sk-new key");

    // "Отмена" after typing keeps the old key.
    open([](KeyDialog::Form& form) {
        QTest::keyClicks(form.field, "other");
        return KeyDialog::Button::cancel;
    });
    EXPECT_EQ(stored(), "sk-new key");

    // Escape cancels too.
    open([](KeyDialog::Form& form) {
        form.field->clear();
        QTest::keyClick(form.dialog, Qt::Key_Escape);
        EXPECT_FALSE(form.dialog->isVisible());
        return KeyDialog::Button::cancel;
    });
    EXPECT_EQ(stored(), "sk-new key");

    open([](KeyDialog::Form& form) {
        form.field->clear();
        return KeyDialog::Button::save;
    });
    EXPECT_EQ(stored(), std::nullopt);
    EXPECT_EQ(text::Keychain::aiKey(), std::nullopt);
}

TEST_F(KeyDialogTest, TakesTheSiblingKeyWithoutShowingIt) {
    testsupport::writeFile(text::Keychain::ruvexFile(),
                           "LLM_BASE_URL=https://api.deepseek.com\nLLM_API_KEY=sk-from-ruvex\n");
    open([](KeyDialog::Form& form) {
        EXPECT_TRUE(form.field->text().isEmpty());
        return KeyDialog::Button::ruvex;
    });
    EXPECT_EQ(last, (std::vector<std::string>{"Сохранить", "Отмена", "Взять из Ruvex"}));
    EXPECT_EQ(stored(), "sk-from-ruvex");

    // The first button is the default: Return in the field saves what it holds.
    open([](KeyDialog::Form& form) {
        form.field->setText("sk-typed");
        QTest::keyClick(form.field, Qt::Key_Return);
        EXPECT_EQ(form.dialog->result(), 1000);
        return KeyDialog::Button::save;
    });
    EXPECT_EQ(stored(), "sk-typed");
}

} // namespace
