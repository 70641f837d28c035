#pragma once

#include <QString>
#include <optional>

// The name a completion offers for the folder `found` when `typed` is the part of its name
// typed so far (matched without regard to case): an all-capitals name is offered
// capitalised, and a name whose case disagrees with the last typed letter follows that
// letter's case.
QString capitalisedCompletion(const QString& typed, const QString& found);

struct FolderCompletion {
    QString text; // the whole new edit text
    qsizetype selectionStart = 0;
    qsizetype selectionLength = 0; // the added part, selected so that typing replaces it
};

// Completes the last component of `text` when exactly one folder in `folder` (where that
// component lies) starts with it, by appending to it. The offered spelling is used only when
// it still names that folder, else the rest of the real name; nothing is offered when the
// typed letters disagree in case with the only folder of a case-sensitive file system.
std::optional<FolderCompletion> completeFolderName(const QString& text, const QString& folder);
