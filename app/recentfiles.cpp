// Folivo — multi-page TIFF editor.
#include "app/recentfiles.h"

#include <algorithm>
#include <cmath>

#include "app/openfilter.h"
#include "platform/inifile.h"

namespace folivo {

namespace {
const char* const kSection = "HistoryMenu";
const QDateTime kEpoch(QDate(1899, 12, 30), QTime(0, 0), Qt::LocalTime);
constexpr double kMsPerDay = 86400000.0;
const QString kFormat = QStringLiteral("yyyy-MM-dd hh:mm:ss");
}  // namespace

double DateTimeToDays(const QDateTime& time) {
  // Counted on the local wall clock, as such times are.
  QDateTime local = time.toLocalTime();
  QDateTime wall(local.date(), local.time(), Qt::UTC);
  QDateTime epoch(kEpoch.date(), kEpoch.time(), Qt::UTC);
  return epoch.msecsTo(wall) / kMsPerDay;
}

QDateTime DaysToDateTime(double days) {
  QDateTime epoch(kEpoch.date(), kEpoch.time(), Qt::UTC);
  QDateTime wall = epoch.addMSecs(static_cast<qint64>(days * kMsPerDay + (days >= 0 ? 0.5 : -0.5)));
  return QDateTime(wall.date(), wall.time(), Qt::LocalTime);
}

QString DaysToText(double days) {
  return DaysToDateTime(days).toString(kFormat);
}

bool TextToDays(const QString& text, double& days) {
  QDateTime t = QDateTime::fromString(text.trimmed(), kFormat);
  if (t.isValid()) {
    days = DateTimeToDays(t);
    return true;
  }
  bool ok = false;
  double v = text.trimmed().toDouble(&ok);
  if (ok && std::isfinite(v)) {
    days = v;
    return true;
  }
  return false;
}

void TRecentFiles::Add(const QString& fileName, double time) {
  if (!IsImageFileName(fileName)) return;
  const QString upper = fileName.toUpper();
  for (HistoryFileRecord& r : items_) {
    if (r.FileName.toUpper() == upper) {
      r.Time = std::max(r.Time, time);
      return;
    }
  }
  items_.push_back({fileName, time});
}

void TRecentFiles::SortNewestFirst() {
  constexpr double kMs = 1.0 / kMsPerDay;
  std::stable_sort(items_.begin(), items_.end(),
                   [](const HistoryFileRecord& a, const HistoryFileRecord& b) {
                     return a.Time - b.Time >= kMs;
                   });
}

void TRecentFiles::Load(const TIniFile& ini) {
  items_.clear();
  for (int n = 0;; ++n) {
    double time = 0;
    const std::string key = std::to_string(n);
    if (!TextToDays(QString::fromStdString(ini.ReadString(kSection, "Time" + key, "")), time))
      time = 0;
    const QString file = QString::fromStdString(ini.ReadString(kSection, "File" + key, ""));
    if (file.isEmpty())
      time = 0;
    else
      Add(file, time);
    if (time == 0) break;
  }
}

void TRecentFiles::Save(TIniFile& ini, int limit) const {
  ini.EraseSection(kSection);
  const int n = std::min<int>(static_cast<int>(items_.size()), std::max(0, limit));
  for (int i = 0; i < n; ++i) {
    ini.WriteString(kSection, "Time" + std::to_string(i), DaysToText(items_[i].Time).toStdString());
    ini.WriteString(kSection, "File" + std::to_string(i), items_[i].FileName.toStdString());
  }
}

}  // namespace folivo
