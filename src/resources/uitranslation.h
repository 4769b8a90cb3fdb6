// The window's language. Its texts are written in Chinese; an English translation is compiled
// into the resource bundle (":/translations/datalogger_en.qm"). Only what people read changes
// with the language: CSV files, SCPI, the store and the host's line protocol never do.
#pragma once

#include <QLocale>

#include <memory>

class QTranslator;

// Whether the locale asks for English: the first of its interface languages that is English,
// Chinese or the C/POSIX locale decides; any other language (and none) keeps Chinese.
bool wantsEnglish(const QLocale &locale);

// The translator of the window's texts for the locale, loaded from the bundle, or null when
// the Chinese source texts are what the locale gets (or the bundle lacks the translation).
std::unique_ptr<QTranslator> loadUiTranslation(const QLocale &locale = QLocale::system());
