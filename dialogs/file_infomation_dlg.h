// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The cut settings: direct or re-encoded cut, the output format and its
// encoding values, the output folder and the new file's name. The start
// button records the choices in CutChoice and closes with OK once the folder
// has passed its test; the main window then starts the cut.

#include <QDialog>
#include <QString>

class QCheckBox;
class QComboBox;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

class CFileInfomation : public QDialog {
    Q_OBJECT

public:
    explicit CFileInfomation(QWidget* parent = nullptr);

    // Captions, lists and fields from the settings, then exec().
    int DoModal();
    bool OnInitDialog();

    void OnDirectCut();    // 1189: the six lists off
    void OnIndirectCut();  // 1007: the six lists on
    void OnBrowse();       // 1076
    void OnStartCut();     // 1194

    // The time of the key picture a direct cut will start at, set by the main
    // window before DoModal when it differs from the start point; shown
    // while a direct cut without exact start and end is chosen.
    void SetDirectCutStart(const QString& timeText);

    // Set by the main window before DoModal; read by it after OK.
    QString output_folder;
    QString file_title;
    QString extension;  // ".mp4"
    QString source_extension;  // of the (first) input: what a direct job writes
    // Spans stored in the cut tab (set before DoModal): two or more offer
    // one file or one file per span; the choice is read after OK.
    int span_count = 0;
    bool separate_spans = false;
    // The spans mark what to remove (the rest is cut), remembered in setting.ini.
    bool remove_spans = false;
    // Closed by "Add to queue": the cut is queued instead of started.
    bool add_to_queue = false;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void EnableLists(bool enabled);
    void ShowDirectCutStart();
    // The chapter per part is offered for spans into one file of a
    // container that holds chapters.
    void OfferPartChapters();
    bool PartChaptersPossible() const;

    QComboBox* m_listFormat;        // 1105
    QComboBox* m_listVideoQuality;  // 1190
    QComboBox* m_listVideoSize;     // 1191
    QComboBox* m_listFrameRate;     // 1065
    QComboBox* m_listAudioQuality;  // 1192
    QComboBox* m_listSampleRate;    // 1197
    QRadioButton* m_radioDirect;    // 1189
    QRadioButton* m_radioIndirect;  // 1007
    QLineEdit* m_editFolder;        // 1003
    QLineEdit* m_editTitle;         // 1075
    QString m_folderMissingText;    // TISHI/mlbcz, read at opening
    QCheckBox* m_checkExact;        // 1198, exact start and end (direct only)
    QLabel* m_labelKeyStart;        // 1199, where a direct cut really starts
    QPushButton* m_btnStart;        // 1194, the default button
    QPushButton* m_btnQueue;        // 1202, add to queue
    QComboBox* m_listSpanFiles;     // 1200, one file / one file per span
    QComboBox* m_listSpanMeaning;   // 1201, keep / remove the spans
    QCheckBox* m_checkPartChapters; // 1203, a chapter per part
    QString m_keyStartTime;
};
