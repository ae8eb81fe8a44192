// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The join settings: direct or re-encoded join, the output format and its
// encoding values, the output folder and the new file's name. Its OK button
// records the choices in JoinChoice and closes once the name and the folder
// have passed their tests; the main window then starts the join.

#include "window_drag.h"
#include <QDialog>
#include <QPoint>
#include <QString>

class QComboBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

class CSettings : public QDialog {
    Q_OBJECT

public:
    explicit CSettings(QWidget* parent = nullptr);
    ~CSettings() override;

    int DoModal();
    bool OnInitDialog();

    void OnDirectJoin();    // 1256: the lists off
    void OnIndirectJoin();  // 1007: the lists on
    void OnBrowse();        // 1072
    void OnOK();            // 1, the start button

    // Read by the main window after OK.
    QString output_folder;
    QString file_title;
    QString extension;  // ".mp4"
    QString source_extension;  // of the (first) input: what a direct job writes
    // Closed by "Add to queue": the join is queued instead of started.
    bool add_to_queue = false;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void EnableLists(bool enabled);

    QComboBox* m_listFormat;        // 1105
    QComboBox* m_listVideoSize;     // 1063
    QComboBox* m_listVideoCodec;    // 1064, never shown
    QComboBox* m_listFrameRate;     // 1065
    QComboBox* m_listVideoQuality;  // 1066
    QComboBox* m_listSampleRate;    // 1067
    QComboBox* m_listChannels;      // 1068, never shown
    QComboBox* m_listAudioCodec;    // 1069, never shown
    QComboBox* m_listAudioQuality;  // 1070
    QRadioButton* m_radioDirect;    // 1256
    QRadioButton* m_radioIndirect;  // 1007
    QLineEdit* m_editFolder;        // 1003
    QLineEdit* m_editTitle;         // 1075
    QPushButton* m_btnStart;        // 1
    WindowDrag m_drag;
};
