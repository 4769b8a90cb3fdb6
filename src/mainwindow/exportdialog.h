// The export dialog: column separator, file name and folder, and the buttons that browse for
// a folder, export and close. While an export runs it shows the rows written out of the total
// and offers to cancel; the window connects to the buttons and feeds it the progress.
#pragma once

#include "widgets/customdialog.h"

class CustomComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

class ExportDialog : public CustomDialog
{
    Q_OBJECT
public:
    explicit ExportDialog(QWidget *parent = nullptr);

    // "已写 N / M 行（P%）", or without total and percentage while the total is not known.
    static QString progressText(qint64 processed, qint64 total);

    // The choices are locked and the progress shown until endExport.
    void beginExport();
    void showProgress(qint64 processed, qint64 total);
    // Back to the choices, and the dialog closed.
    void endExport();
    bool isExporting() const { return exporting; }

    CustomComboBox *separatorCombo = nullptr;
    QLineEdit *fileNameEdit = nullptr;
    QLabel *exportPathLabel = nullptr;
    // Shows the folder the files go to, to the eye and to a screen reader.
    void setFolder(const QString &folder);
    QPushButton *browseButton = nullptr;
    QPushButton *exportFileButton = nullptr;
    QPushButton *dismissButton = nullptr;
    QWidget *progressArea = nullptr;
    QProgressBar *progressBar = nullptr;
    QLabel *progressLabel = nullptr;
    QPushButton *cancelButton = nullptr;

signals:
    // Cancel, the title bar's close button or Esc while an export runs.
    void cancelRequested();

public slots:
    // While an export runs the dialog stays: closing it asks to cancel instead.
    void reject() override;

private:
    void setChoicesEnabled(bool enabled);

    bool exporting = false;
};
