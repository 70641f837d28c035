#include "ui/FolderCompletion.h"

#include <QDir>
#include <filesystem>
#include <system_error>

namespace {

bool isAllCapitals(const QString& name) {
    for (QChar c : name) {
        if (c == QLatin1Char(' ') || c.isLower())
            return false;
    }
    return true;
}

std::optional<QString> uniqueFolderStartingWith(const QString& folder, const QString& prefix) {
    const QStringList names =
        QDir(folder).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    std::optional<QString> match;
    for (const QString& name : names) {
        if (!name.startsWith(prefix, Qt::CaseInsensitive))
            continue;
        if (match)
            return std::nullopt;
        match = name;
    }
    return match;
}

bool sameFolder(const QString& a, const QString& b) {
    std::error_code error;
    return std::filesystem::equivalent(a.toStdString(), b.toStdString(), error) && !error;
}

} // namespace

QString capitalisedCompletion(const QString& typed, const QString& found) {
    QString name = found;
    if (isAllCapitals(name) && !name.isEmpty())
        name = name.left(1) + name.mid(1).toLower();
    const qsizetype k = typed.size();
    if (k > 0 && k <= name.size() && name[k - 1] != typed.back())
        name = typed.back().isUpper() ? name.toUpper() : name.toLower();
    return name;
}

std::optional<FolderCompletion> completeFolderName(const QString& text, const QString& folder) {
    const qsizetype slash = text.lastIndexOf(QLatin1Char('/'));
    const QString typedPart = text.mid(slash + 1);
    if (typedPart.isEmpty())
        return std::nullopt;

    const auto found = uniqueFolderStartingWith(folder, typedPart);
    if (!found)
        return std::nullopt;

    // Only ever appended: what was typed stays as typed. On a case-sensitive file system the
    // offered spelling may name no folder; the rest of the real name then serves, provided the
    // typed letters agree with it.
    const QDir parent(folder);
    QString added = capitalisedCompletion(typedPart, *found).mid(typedPart.size());
    if (!sameFolder(parent.absoluteFilePath(typedPart + added), parent.absoluteFilePath(*found))) {
        if (!found->startsWith(typedPart))
            return std::nullopt;
        added = found->mid(typedPart.size());
    }
    FolderCompletion completion;
    completion.text = text + added;
    completion.selectionStart = text.size();
    completion.selectionLength = added.size();
    return completion;
}
