// Folivo — multi-page TIFF editor.
// The recent-files list: entries with the time each file was last opened or
// saved, kept newest first in the "HistoryMenu" section of the settings.
#pragma once

#include <QDateTime>
#include <QString>
#include <vector>

namespace folivo {

class TIniFile;

struct HistoryFileRecord {
  QString FileName;
  double Time = 0;  // days since 30 December 1899, the fraction the time of day
};

double DateTimeToDays(const QDateTime& time);
QDateTime DaysToDateTime(double days);
// "yyyy-MM-dd hh:mm:ss" in local time; reading also takes a plain number of
// days. Text that is neither reads as false.
QString DaysToText(double days);
bool TextToDays(const QString& text, double& days);

class TRecentFiles {
 public:
  std::vector<HistoryFileRecord>& Items() { return items_; }
  const std::vector<HistoryFileRecord>& Items() const { return items_; }
  void Clear() { items_.clear(); }

  // Names that are not image names are ignored. A name equal to an entry's
  // in upper case refreshes that entry with the later of the two times;
  // otherwise it is appended. The list itself has no length limit.
  void Add(const QString& fileName, double time);
  // Newest first; times within a millisecond count as equal (order kept).
  void SortNewestFirst();

  // Reads "Time0"/"File0", "Time1"/"File1" … until the first time that is
  // 0, missing or unreadable; empty paths count as time 0.
  void Load(const TIniFile& ini);
  // Erases the section and writes the first min(count, limit) entries.
  void Save(TIniFile& ini, int limit) const;

 private:
  std::vector<HistoryFileRecord> items_;
};

}  // namespace folivo
