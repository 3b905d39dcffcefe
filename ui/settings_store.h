#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>

namespace tandril {

// Reads and writes one value at a time in the per-user settings of organisation
// "Orvello", application "Tandril" (an INI file under the XDG config directory).
// Sections: "URL", "Path", "Options". Interface thread only; owns nothing.
class CSettingsStore {
public:
    CSettingsStore(const QString& company, const QString& product);

    // A value that is missing or cannot be read as an unsigned 32-bit number gives
    // `fallback`.
    std::uint32_t ReadInt(const QString& section, const QString& name,
                          std::uint32_t fallback) const;
    void WriteInt(const QString& section, const QString& name, std::uint32_t value);
    QString ReadString(const QString& section, const QString& name, const QString& fallback) const;
    void WriteString(const QString& section, const QString& name, const QString& value);

    // A history: "Count" entries named section + index, most recent first. Empty
    // entries and entries equal to an earlier one ignoring case are dropped.
    QStringList ReadHistory(const QString& section) const;
    // Writes at most kMaxHistory entries and their count.
    void WriteHistory(const QString& section, const QStringList& entries);

    static constexpr int kMaxHistory = 30;

private:
    QString m_strCompany;
    QString m_strProduct;
};

}  // namespace tandril
