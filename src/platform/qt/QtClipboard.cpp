#include "platform/qt/QtClipboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QString>

#include <algorithm>
#include <string_view>

namespace platform::qt {

namespace {

// Targets that describe the selection protocol rather than data, and the image type that Qt makes up
// from any image it is offered. Writing them back would duplicate the target list.
constexpr std::string_view notData[] = {
    "TARGETS", "MULTIPLE",         "TIMESTAMP",       "SAVE_TARGETS",
    "DELETE",  "INSERT_SELECTION", "INSERT_PROPERTY", "application/x-qt-image",
};

QClipboard::Mode modeOf(Selection selection) {
    return selection == Selection::clipboard ? QClipboard::Clipboard : QClipboard::Selection;
}

std::size_t indexOf(Selection selection) {
    return selection == Selection::clipboard ? 0 : 1;
}

} // namespace

ClipboardContents QtClipboard::save(Selection selection) {
    ClipboardContents contents;
    const QMimeData* data = QGuiApplication::clipboard()->mimeData(modeOf(selection));
    if (data == nullptr) {
        return contents;
    }
    for (const QString& format : data->formats()) {
        std::string type = format.toStdString();
        if (std::find(std::begin(notData), std::end(notData), type) != std::end(notData)) {
            continue;
        }
        QByteArray bytes = data->data(format);
        contents.push_back({std::move(type), std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()))});
    }
    return contents;
}

void QtClipboard::writeText(Selection selection, const std::string& text) {
    auto* data = new QMimeData;
    data->setText(QString::fromStdString(text));
    data->setData(QString::fromLatin1(secretHintType), QByteArrayLiteral("secret"));
    ++writes[indexOf(selection)];
    QGuiApplication::clipboard()->setMimeData(data, modeOf(selection));
}

void QtClipboard::restore(Selection selection, const ClipboardContents& contents) {
    ++writes[indexOf(selection)];
    if (contents.empty()) {
        QGuiApplication::clipboard()->clear(modeOf(selection));
        return;
    }
    auto* data = new QMimeData;
    for (const auto& format : contents) {
        data->setData(QString::fromStdString(format.type),
                      QByteArray(format.data.data(), static_cast<qsizetype>(format.data.size())));
    }
    QGuiApplication::clipboard()->setMimeData(data, modeOf(selection));
}

bool QtClipboard::ownsSelection(Selection selection) {
    auto* clipboard = QGuiApplication::clipboard();
    return selection == Selection::clipboard ? clipboard->ownsClipboard() : clipboard->ownsSelection();
}

std::uint64_t QtClipboard::generation(Selection selection) const {
    return writes[indexOf(selection)];
}

} // namespace platform::qt
