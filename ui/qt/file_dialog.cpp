#include "ui/qt/file_dialog.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include "ui/common/filter_string.h"

namespace pellamar::ui {
namespace {

// The longest proposed file name a save dialog takes, in characters.
constexpr int kMaxProposedName = 254;

// `pattern` as every dialog Qt may use applies it: GTK's chooser and the
// desktop portal match glob patterns case-sensitively, so each letter
// matches either case, as the run's listing does ("*.mcd" offers B.MCD);
// "*.*" is every file, one without a dot in its name too. A pattern that
// brackets characters itself is taken as it is.
QString AnyCasePattern(const QString& pattern) {
  if (pattern == "*.*") return "*";
  if (pattern.contains('[')) return pattern;
  QString any_case;
  for (const QChar c : pattern) {
    if (c.toLower() == c.toUpper()) {
      any_case += c;
    } else {
      any_case += QString('[') + c.toLower() + c.toUpper() + ']';
    }
  }
  return any_case;
}

QString QtNameFilter(const FileTypeFilter& entry) {
  QStringList patterns;
  const QString all = QString::fromStdString(entry.pattern);
  for (const QString& pattern : all.split(';', Qt::SkipEmptyParts)) {
    patterns << AnyCasePattern(pattern);
  }
  return QString::fromStdString(entry.description) + " (" + patterns.join(' ') + ")";
}

// Reads the caller's arguments into a request and converts `filter` in place.
FileDialogRequest RequestFor(QWidget& owner, std::string& filter, const std::string& title,
                             const std::string& init_dir) {
  FileDialogRequest request;
  request.owner = &owner;
  request.title = QString::fromStdString(title);
  request.folder = LocalFolderFor(init_dir);
  request.name_filters = QtNameFilters(filter);
  filter = ConvertFilterString(filter);
  return request;
}

std::string LocalPath(const QUrl& chosen) { return LocalPathOf(chosen).value_or(std::string()); }

}  // namespace

QStringList QtNameFilters(const std::string& filter) {
  QStringList filters;
  for (const FileTypeFilter& entry : SplitFilterString(filter)) filters << QtNameFilter(entry);
  return filters;
}

std::optional<std::string> LocalPathOf(const QUrl& url) {
  if (!url.isLocalFile() || !(url.host().isEmpty() || url.host() == "localhost")) {
    return std::nullopt;
  }
  return QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()).toStdString();
}

QString LocalFolderFor(const std::string& init_dir) {
  static const QRegularExpression drive_path(R"(^[A-Za-z]:(.*)$)");
  const QString folder = QString::fromStdString(init_dir);
  const QRegularExpressionMatch match = drive_path.match(folder);
  if (!match.hasMatch()) return folder;
  const QString below_drive = match.captured(1).replace('\\', '/');
  return QDir::cleanPath(QDir::homePath() + '/' + below_drive);
}

std::string OpenDialog(DesktopCalls& desktop, QWidget& Form1, std::string& Filter,
                       const std::string& Title, const std::string& InitDir) {
  return LocalPath(desktop.RunFileDialog(RequestFor(Form1, Filter, Title, InitDir)));
}

std::string SaveDialog(DesktopCalls& desktop, QWidget& Form1, std::string& Filter,
                       const std::string& Title, const std::string& InitDir,
                       const std::string& DefaultFilename) {
  FileDialogRequest request = RequestFor(Form1, Filter, Title, InitDir);
  request.save = true;
  request.file_name = QString::fromStdString(DefaultFilename).left(kMaxProposedName);
  return LocalPath(desktop.RunFileDialog(request));
}

}  // namespace pellamar::ui
