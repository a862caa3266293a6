// Folivo — multi-page TIFF editor.
// TUserPrompts: the one way the program asks the user something — message
// boxes and file or folder dialogs — so that tests can answer by script.
#pragma once

#include <QString>
#include <QStringList>
#include <deque>
#include <vector>

class QWidget;

namespace folivo {

enum class TPromptKind { Warning, Confirmation, Information, Error };

enum TPromptButton : int {
  pbNone = 0,
  pbOk = 1,
  pbCancel = 2,
  pbYes = 4,
  pbNo = 8,
};

struct TFileDialogRequest {
  QString Title;
  QString StartFolder;
  QString FileName;
  // Filter pairs in the "description|patterns|description|patterns" form.
  QString Filter;
  int FilterIndex = 1;  // 1-based, as such dialogs count
};

class TUserPrompts {
 public:
  virtual ~TUserPrompts() = default;
  // Shows text with the buttons (a TPromptButton set); returns the button pressed.
  virtual int Message(QWidget* parent, TPromptKind kind, const QString& text, int buttons) = 0;
  // Empty results mean the dialog was cancelled.
  virtual QStringList OpenFiles(QWidget* parent, const TFileDialogRequest& request,
                                bool multiple) = 0;
  // filterIndex receives the chosen type (1-based).
  virtual QString SaveFile(QWidget* parent, const TFileDialogRequest& request,
                           int& filterIndex) = 0;
  virtual QString Folder(QWidget* parent, const QString& title, const QString& startFolder) = 0;

  // The prompts in force; the real dialogs unless a test installed others.
  static TUserPrompts& Current();
  static void Install(TUserPrompts* prompts);  // nullptr returns to the real dialogs
};

// Qt's message boxes and file dialogs.
class TDialogPrompts final : public TUserPrompts {
 public:
  int Message(QWidget* parent, TPromptKind kind, const QString& text, int buttons) override;
  QStringList OpenFiles(QWidget* parent, const TFileDialogRequest& request,
                        bool multiple) override;
  QString SaveFile(QWidget* parent, const TFileDialogRequest& request, int& filterIndex) override;
  QString Folder(QWidget* parent, const QString& title, const QString& startFolder) override;
};

// Answers from a script, recording what was asked. Unscripted questions
// answer Cancel / No / nothing.
class TScriptedPrompts final : public TUserPrompts {
 public:
  struct TAsked {
    TPromptKind Kind;
    QString Text;
    int Buttons;
  };
  std::deque<int> MessageAnswers;
  std::deque<QStringList> FileAnswers;
  std::deque<int> FilterAnswers;
  std::deque<QString> FolderAnswers;
  std::vector<TAsked> Asked;
  std::vector<TFileDialogRequest> FileRequests;

  int Message(QWidget* parent, TPromptKind kind, const QString& text, int buttons) override;
  QStringList OpenFiles(QWidget* parent, const TFileDialogRequest& request,
                        bool multiple) override;
  QString SaveFile(QWidget* parent, const TFileDialogRequest& request, int& filterIndex) override;
  QString Folder(QWidget* parent, const QString& title, const QString& startFolder) override;
};

// "desc|pat;pat|desc|pat" to Qt's "desc (pat pat);;desc (pat)".
QStringList FilterToQt(const QString& filter);

}  // namespace folivo
