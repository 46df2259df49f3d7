#pragma once

class QCoreApplication;

// Qt's own texts (file dialogs, standard buttons, text fields' context menus) in Simplified Chinese, from
// the translations Debian installs with qt6-translations-l10n.
namespace QtTranslations {
// False when they are not installed: Qt's texts stay English.
bool installChinese(QCoreApplication& application);
} // namespace QtTranslations
