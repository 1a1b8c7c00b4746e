#pragma once
#include <QByteArray>
#include <QString>

class QWidget;

// Writing the audit's report files into its output folder. Failures throw ReportError with
// the file system's own description.
namespace AuditReports {

struct ReportError {
    QString description;
};

// Creates the folder and its missing parents; an existing folder is used as it is.
void createFolder(const QString& folder);
// Replaces the file's contents in place.
void writePlain(const QString& folder, const QString& name, const QByteArray& bytes);
// Writes the file aside and moves it into place; a failure leaves no partial file.
void writeAtomic(const QString& folder, const QString& name, const QByteArray& bytes);
// The widget as drawn now, encoded as PNG; empty when it cannot be captured.
QByteArray picture(QWidget* view);

} // namespace AuditReports
