// The window's language. Its words are written in Japanese, as the game has always shown them;
// an English catalogue stands beside the program for every other language.
#pragma once

#include <QString>

#include <string>

namespace hopshot {

enum class WindowLanguage { Japanese, English };

// The variables that choose the language of messages, as the environment holds them (unset and
// empty are the same).
struct LocaleVariables {
    std::string language;     // LANGUAGE: a colon-separated list, most wanted first
    std::string lcAll;        // LC_ALL
    std::string lcMessages;   // LC_MESSAGES
    std::string lang;         // LANG
};

LocaleVariables localeVariables();   // the program's own environment

// As gettext chooses: the messages' locale is the first of LC_ALL, LC_MESSAGES and LANG that is
// set (none: C); under C or POSIX the words are the program's own (Japanese) and LANGUAGE is not
// read. Otherwise the first entry of LANGUAGE naming Japanese or English decides, else the
// locale's language; any language other than Japanese gets English.
WindowLanguage chooseLanguage(const LocaleVariables& v);

// The catalogue's file name beside the program.
inline const char* const kEnglishCatalogue = "hopshot_en.qm";

// The window's language from now on (the windows made after it): English installs the catalogue
// from dir, Japanese takes any catalogue away. False when English is wanted and its catalogue
// cannot be loaded: the window then speaks Japanese.
bool setWindowLanguage(WindowLanguage language, const QString& dir);
WindowLanguage windowLanguage();   // as set; Japanese until then

}  // namespace hopshot
