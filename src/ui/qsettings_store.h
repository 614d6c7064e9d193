// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QSettings>
#include <string>

#include "settings/settings_store.h"

namespace quorvale {

// A SettingsStore in QSettings: a section is a group, every value text in the local 8-bit
// encoding, as the system's own texts are.
class QSettingsStore final : public SettingsStore {
public:
    explicit QSettingsStore(QSettings& settings) : m_settings(settings) {}

    std::string Read(const char* section, const char* name, const char* fallback) override {
        m_settings.beginGroup(section);
        const QString text = m_settings.value(name, QString(fallback)).toString();
        m_settings.endGroup();
        return text.toLocal8Bit().toStdString();
    }

    void Write(const char* section, const char* name, const std::string& text) override {
        m_settings.beginGroup(section);
        m_settings.setValue(name, QString::fromLocal8Bit(text));
        m_settings.endGroup();
        // On disk at once, as the dialog's framework writes its profile strings.
        m_settings.sync();
    }

private:
    QSettings& m_settings;
};

}  // namespace quorvale
