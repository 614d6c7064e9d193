// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QSettings>
#include <QStringList>
#include <string>

#include "settings/settings_store.h"

namespace quorvale {

// A SettingsStore in QSettings: a section is a group (none for the empty one), every value text in
// the local 8-bit encoding, as the system's own texts are.
class QSettingsStore final : public SettingsStore {
public:
    explicit QSettingsStore(QSettings& settings) : m_settings(settings) {}

    std::string Read(const char* section, const char* name, const char* fallback) override {
        const QString text = m_settings.value(Key(section, name), QString(fallback)).toString();
        return text.toLocal8Bit().toStdString();
    }

    void Write(const char* section, const char* name, const std::string& text) override {
        m_settings.setValue(Key(section, name), QString::fromLocal8Bit(text));
        // On disk at once, as the dialog's framework writes its profile strings.
        m_settings.sync();
    }

    // Qt's own list, so that a list stored before it went through this store reads the same.
    std::vector<std::string> ReadList(const char* section, const char* name) override {
        std::vector<std::string> texts;
        for (const QString& text : m_settings.value(Key(section, name)).toStringList()) {
            texts.push_back(text.toLocal8Bit().toStdString());
        }
        return texts;
    }

    void WriteList(const char* section, const char* name,
                   const std::vector<std::string>& texts) override {
        QStringList list;
        for (const std::string& text : texts) {
            list.push_back(QString::fromLocal8Bit(text));
        }
        m_settings.setValue(Key(section, name), list);
        m_settings.sync();
    }

private:
    static QString Key(const char* section, const char* name) {
        return *section ? QString(section) + "/" + name : QString(name);
    }

    QSettings& m_settings;
};

}  // namespace quorvale
