#include "app/language.h"

#include <QCoreApplication>
#include <QTranslator>

#include <cstdlib>
#include <memory>

namespace hopshot {

namespace {

std::string variable(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

QTranslator* english = nullptr;   // the English catalogue while it is installed

// "ja_JP.UTF-8@x" -> "ja": the language part of a locale name.
std::string languageOf(const std::string& locale) {
    return locale.substr(0, locale.find_first_of("_.@"));
}

}  // namespace

LocaleVariables localeVariables() {
    return {variable("LANGUAGE"), variable("LC_ALL"), variable("LC_MESSAGES"), variable("LANG")};
}

WindowLanguage chooseLanguage(const LocaleVariables& v) {
    std::string locale = "C";
    for (const std::string* s : {&v.lcAll, &v.lcMessages, &v.lang})
        if (!s->empty()) {
            locale = *s;
            break;
        }
    const std::string own = languageOf(locale);
    if (own == "C" || own == "POSIX") return WindowLanguage::Japanese;
    bool listed = false;
    size_t from = 0;
    while (from <= v.language.size()) {
        size_t to = v.language.find(':', from);
        if (to == std::string::npos) to = v.language.size();
        const std::string entry = languageOf(v.language.substr(from, to - from));
        from = to + 1;
        if (entry.empty()) continue;
        listed = true;
        if (entry == "ja") return WindowLanguage::Japanese;
        if (entry == "en") return WindowLanguage::English;
    }
    // Languages were asked for, and none is one of ours: the other languages' choice is English.
    if (listed) return WindowLanguage::English;
    return own == "ja" ? WindowLanguage::Japanese : WindowLanguage::English;
}

bool setWindowLanguage(WindowLanguage language, const QString& dir) {
    if (english) {
        QCoreApplication::removeTranslator(english);
        delete english;
        english = nullptr;
    }
    if (language == WindowLanguage::Japanese) return true;
    auto catalogue = std::make_unique<QTranslator>();
    if (!catalogue->load(QString::fromUtf8(kEnglishCatalogue), dir) ||
        !QCoreApplication::installTranslator(catalogue.get()))
        return false;
    english = catalogue.release();
    return true;
}

WindowLanguage windowLanguage() { return english ? WindowLanguage::English : WindowLanguage::Japanese; }

}  // namespace hopshot
