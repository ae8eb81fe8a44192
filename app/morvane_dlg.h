// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The main window: a cut tab (one file, its preview, the timeline and the cut
// points) and a join tab (the list of files to join), sharing one window.
// Its members are defined by part: cut_tab.cpp and span_list.cpp (the cut
// tab), join_tab.cpp (the join tab), job_launch.cpp (settings, launch and what a
// job's progress and end show; the job itself runs in a JobRunner),
// morvane_dlg.cpp (the window, its layout and size), window_files.cpp (Add
// and drop), window_language.cpp (its texts) and window_events.cpp (closing,
// and the keys and mouse the window takes for itself).

#include "app_directory.h"
#include "window_drag.h"
#include <QColor>
#include <QDialog>
#include <QIcon>
#include <QImage>
#include <QPoint>
#include <QString>
#include <QStringList>

#include "job_setup.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

class CAVConvertDlg;
class CBitmapSlider;
class CCheckListCtrl;
class CControlButton;
class CHyperLink;
class JobRunner;
class JobSequence;
class QPushButton;
class QueuePanel;
struct JobReading;
struct QueuedJob;
class KeyFrameScanner;
class BreakScanner;
class QAction;
struct DetectedPoints;
class CPreviewArea;
class PreviewWorker;
struct PreviewPicture;
class WindowPlayer;
class QComboBox;
class QLabel;
class QLineEdit;
class QPainter;
class QToolButton;
class QTimer;
class QScrollBar;
class QTabBar;

// The folder of `files` (the executable's own by default) with one trailing separator.
QString GetAppFolderWithSlash(platform::AppFiles files = platform::AppFiles::Program);

// The help address of the current language: an address with a scheme or an
// absolute path as it stands, a relative one (a page shipped with the
// program) in the folder of the shipped files.
QString HelpAddress();

// Collapses doubled separators in a path from the file dialog. A path that
// starts with two separators names a network share and is kept as it is.
QString RepairDoubledSeparators(const QString& path);

class CMorvaneDlg : public QDialog {
    Q_OBJECT

public:
    static constexpr int kCutTab = 0;
    static constexpr int kJoinTab = 1;
    static constexpr int kQueueTab = 2;
    static constexpr int kMaxJoinRows = 9999;

    explicit CMorvaneDlg(QWidget* parent = nullptr);
    ~CMorvaneDlg() override;

    // Language, tabs, list, buttons and slider, in start-up order.
    bool OnInitDialog();

    // The texts of the current language file, onto every caption of the window.
    void ApplyLanguage();
    void ApplyLanguageChoice();

    void OnAddFiles();
    // Adds `paths` as Add does to the tab shown: the cut tab takes the first,
    // the join tab all of them.
    void AddFiles(const QStringList& paths);
    // The files the program was started with: one opens in the cut tab,
    // several go to the join tab, which is then shown.
    void OpenStartFiles(const QStringList& paths);
    void DeleteSelectedRow();
    void OnTabChanged();

    void OnSliderMoving();
    void OnSliderMoved();
    // Every move of the timeline ends here: thumb, time label and preview
    // follow `ms` (clamped to the file), so Start and End take what is shown.
    // A drag (`exact` false) shows the key picture at or before `ms` at once;
    // everything else shows exactly the picture at `ms`.
    void MoveToMs(long long ms, bool exact = true);
    // The timeline's keys; false when the key is none of them. Shift and
    // Ctrl with an arrow step 1 s and 10 s; + and - zoom, 0 fits the file.
    bool OnTimelineKey(int key, Qt::KeyboardModifiers held = Qt::NoModifier);
    // A time typed into Start or End, once Enter is pressed or the field left:
    // the thumb and the preview go there, the markers show the fields' span.
    void OnTimeTyped(int fieldId);
    // Reloads the snapshot file and draws it into the preview area now.
    void DrawSnapshot();
    void OnStartPoint();
    void OnEndPoint();
    void OnTimeTextChanged();
    void OnPlay();
    // The play inside the window (window_play.cpp): the marked span when the
    // thumb is outside it, else from the thumb to the span's end (to the
    // file's end when nothing is marked). A second press, or Space, stops it.
    void OnPlayHere();
    void StopPlaying();
    bool Playing() const;
    WindowPlayer* Player() const { return m_player; }
    QToolButton* PlayHereButton() const { return m_btnPlayHere; }

    // The span list of the cut tab (span_list.cpp). Add stores the start and
    // end fields as a span (refused with a message when it overlaps one);
    // while a stored span is chosen, Start Point and End Point re-mark it.
    bool OnAddSpan();
    void OnSpanChosen(int entry);
    void MoveSelectedSpan(int by);  // -1 earlier, +1 later
    void RemoveSelectedSpan();
    const std::vector<CutSpan>& Spans() const { return m_spans; }
    // The chosen span, or -1 while the fields mark a new one.
    int SelectedSpan() const;
    void SelectSpan(int span);
    QComboBox* SpanList() const { return m_comboSpans; }
    // What the closed span list shows for `entry` (0: a new span).
    static QString SpanClosedText(int entry);
    // "Span 3 overlaps span 1", both numbered as the list shows them.
    static QString SpansOverlapText(int span, int other);

    // Undo and redo of marks and span edits (Ctrl+Z, Ctrl+Shift+Z). Each
    // change of the marks, the fields' span or the span list is one step.
    void Undo();
    void Redo();
    bool CanUndo() const { return !m_undo.empty(); }
    bool CanRedo() const { return !m_redo.empty(); }

    // Cut points found for the user and span lists (break_tools.cpp). The
    // scan runs on its own thread; a second Find stops it.
    void OnFindBreaks();
    bool FindingBreaks() const;
    // The breaks found become spans to remove (the spans then mean "remove").
    void RemoveFoundBreaks();
    const std::vector<CutSpan>& FoundBreaks() const { return m_foundBreaks; }
    const std::vector<int64_t>& FoundPointsMs() const { return m_foundPointsMs; }
    // The previous or next found point; false when none was found.
    bool JumpToFoundPoint(bool forward);
    // Whether the spans mark what to remove ([CUT] remove= in setting.ini).
    bool SpansRemove() const;
    void SetSpansRemove(bool remove);
    // The span list from a list file (its format from its first line or
    // extension), or into one; an existing file is replaced only when
    // `mayReplace` (the user agreed). False after a message saying why.
    bool LoadSpanList(const QString& path);
    bool SaveSpanList(const QString& path, bool mayReplace);
    QToolButton* BreaksButton() const { return m_btnBreaks; }

    // Convert and Merge: the settings dialog, then the job on its worker
    // thread behind the modal progress dialog. They return when it closes.
    void OnLaunchCut();
    void OnLaunchJoin();
    // The 500 ms poll of a running job.
    void OnTimer();

    // The cut marked in the cut tab applied to each ticked file of the join
    // list (batch_cut.cpp): its settings, then each file in turn behind the
    // progress dialog, or each file's cut queued.
    void OnCutTicked();
    QueuePanel* QueueView() const { return m_queuePanel; }

    // The tool tip of control `id`: its hint in the current language, "" for
    // controls without one.
    QString OnToolTipText(int id) const;

    // Frees the job record (after the worker, if any, has ended) and ends the
    // dialog. Closing is the only way out.
    void OnClose();

    // Takes over a running worker; closing joins it before the record goes.
    void AdoptWorker(std::thread worker);

    // Called from the preview area's paint: the snapshot, loaded from disk.
    void PaintSnapshot(QPainter& painter, const QRect& area);

    const QString& CutFile() const { return m_strCutFile; }
    const QString& SnapshotPath() const { return m_strSnapshotPath; }
    int CurrentMs() const { return m_nCurrentMs; }
    // The exact picture is being decoded in the background; the one shown until then is its key picture.
    bool PreviewPending() const;
    // Key pictures of the cut file, microseconds from its start; empty until scanned.
    const std::vector<int64_t>& KeyFramesUs() const { return m_keyFramesUs; }
    // The key picture a direct cut from `startMs` begins at, in ms; -1 when unknown.
    long long KeyFrameAtOrBefore(long long startMs) const;
    CCheckListCtrl* FileList() const { return m_listFiles; }
    CBitmapSlider* Slider() const { return m_slider; }
    QTabBar* Tabs() const { return m_tab; }
    CAVConvertDlg* ProgressDialog() const { return m_dlgProgress; }

    void accept() override {}
    void reject() override {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // What undo brings back: the span list, the chosen span, the fields'
    // span and the timeline's markers.
    struct MarkState {
        std::vector<CutSpan> spans;
        int selected = -1;
        QString start, end;
        int startMarker = 0, endMarker = 0, markerMode = 0;
        bool operator==(const MarkState& other) const;
    };
    // Opened around a change of the marks: one undo step when anything changed.
    class MarkEdit {
    public:
        explicit MarkEdit(CMorvaneDlg* dlg);
        ~MarkEdit();
        MarkEdit(const MarkEdit&) = delete;
        MarkEdit& operator=(const MarkEdit&) = delete;

    private:
        CMorvaneDlg* m_dlg;
        bool m_outermost;
        MarkState m_before;
    };
    MarkState CurrentMarks() const;
    void RestoreMarks(const MarkState& state);
    void ForgetUndo();
    void StepHistory(std::vector<MarkState>& from, std::vector<MarkState>& to);
    // Whether the spans marked in the cut file may go (asks when there are any).
    bool MayDiscardSpans();

    // What the timeline needs of the cut file, kept apart from the job's
    // probe fields, which any later Add in the join tab overwrites.
    struct CutFileFacts {
        std::string path_utf8;
        int64_t initial_start_us = 0;
        int64_t initial_end_us = 0;
        int64_t duration_us = 0;
        int64_t origin_us = 0;   // the file's first time, where the preview counts from
        // The picture rate as the probe read it; 25 fps when it is not known.
        int64_t fps_num = 25, fps_den = 1;
        InputFacts input;        // what the probe found, for the launch to reuse
    };

    void CreateControls();
    void SetUpButtons();
    void SetUpSlider();
    void SetUpFileList();
    void LoadCutFile();
    void ShowPreview(long long ms, bool exact);
    void ShowPicture(const PreviewPicture& picture, bool exact);
    // The preview area inside its frame: the size pictures are decoded at.
    QSize PreviewBox() const;
    void FollowPreviewBox();
    // The picture shown at `ms` counted on the file's rate, and where picture `n` starts.
    int64_t PictureAtMs(long long ms) const;
    long long PictureStartMs(int64_t n) const;
    void OnKeyFramesScanned(std::vector<int64_t> times_us);
    int SliderPositionOfMs(long long ms) const;
    long long DurationMs() const { return m_cutFacts.duration_us / 1000; }
    void FitLanguageLabel();
    // The scroll bar under a zoomed timeline: shown while zoomed, over the
    // preview's lowest rows (the preview gives them up meanwhile).
    void CreateTimelineScrollBar();
    void FollowTimelineView();
    void PlaceTimelineScrollBar();
    // The window grows from its first size: the preview, the timeline and the
    // join list take the room, the controls beside and below them follow.
    void LayOutControls();
    void LayOutControl(QWidget* control);
    // `control` is at `place` when the window has its first size.
    void SetFirstSizePlace(QWidget* control, const QRect& place);
    void RestoreWindowSize();
    void RememberWindowSize();
    void AppendJoinRow(const QString& path);
    void ShowAddFailure(const QString& path);
    void ReportUnusableFiles();
    void UseSnapshotPath();
    void PointRecordAtCutFile();
    void ReleaseJobRecord();
    QLabel* Static(int id) const;

    // Launch and poll (job_launch.cpp).
    void StartJob(bool join);
    void LaunchSpans();
    void TellDecision(const LaunchDecision& decided);
    // The message after a job the poll saw complete, once its worker has ended.
    void ShowOutcome(bool join, bool ok);
    // The runner's end: what the job came to, or what a stop kept.
    void OnJobFinished(bool ok);
    void StopSequence();
    void ShowMessage(const QString& text);
    void FinishPendingClose();
    QLineEdit* Edit(int id) const;
    void CreateSpanControls();
    void CreatePlayControls();
    void ApplyPlayText();
    void OnPlayReached(long long ms);
    void RefreshSpans(int select);
    void ReMarkSelectedSpan();
    void ShowSpanControls();
    void CreateBreakControls();
    void ApplyBreakTexts();
    void OnBreaksFound(int rc, DetectedPoints points);
    void ShowFoundPoints();
    void ForgetFoundPoints();
    bool SpansToCut(std::vector<CutSpan>* spans, bool removing);

    // The batch cut and the queue (batch_cut.cpp, queue_tab.cpp).
    void CreateQueueControls();
    void ApplyQueueTexts();
    void FitTabBar();
    void ShowQueueControls();
    QStringList TickedFiles(std::vector<int>* rows) const;
    bool MarkedCut(std::vector<CutSpan>* spans);
    void RunBatch(std::vector<QueuedJob> jobs, const std::vector<int>& rows);
    void ShowBatchRows();
    void OnBatchProgress(quint64 id, const JobReading& reading);
    void ShowBatchOutcome(const std::vector<QueuedJob>& jobs);
    // Adds `jobs` to the queue; `becauseRunning`: the user asked to start
    // them, but the queue is running, so they wait their turn (and are told).
    void QueueJobs(std::vector<QueuedJob> jobs, bool becauseRunning);
    void TellKeptParts(const std::vector<CutSpan>& parts);

    int m_completedCount = 0;
    QIcon m_hIcon;
    CControlButton* m_btnAdd = nullptr;
    CAVConvertDlg* m_dlgProgress = nullptr;
    CControlButton* m_btnConvert = nullptr;
    CCheckListCtrl* m_listFiles = nullptr;
    CControlButton* m_btnMerge = nullptr;
    QString m_strSnapshotPath;
    QColor m_brushBack;
    int m_nCurrentMs = 0;
    std::array<int, kMaxJoinRows> m_joinRows{};
    CBitmapSlider* m_slider = nullptr;
    CControlButton* m_btnStartPoint = nullptr;
    CControlButton* m_btnEndPoint = nullptr;
    CPreviewArea* m_preview = nullptr;
    QTabBar* m_tab = nullptr;
    CControlButton* m_btnOpenFile = nullptr;
    CControlButton* m_btnPlay = nullptr;
    QString m_strCutFile;
    QString m_strOutputFolder;
    CControlButton* m_btnDelete = nullptr;
    CControlButton* m_btnAddFile = nullptr;
    QComboBox* m_comboLanguage = nullptr;
    CHyperLink* m_linkHelp = nullptr;

    CutFileFacts m_cutFacts;
    std::vector<int64_t> m_keyFramesUs;  // from the cut file's start, ascending
    PreviewWorker* m_pictures = nullptr;  // the cut file's pictures, kept between moves
    bool m_previewExact = false;  // the snapshot shows the very picture at m_nCurrentMs
    KeyFrameScanner* m_keyFrameScanner = nullptr;
    std::string m_probePathUtf8;     // what the job's probe_path points at
    std::wstring m_snapshotPathWide; // what the job's snapshot_path points at
    QImage m_shownPicture;           // the picture decoded last, at the preview box's size
    QRect m_shownPictureInside;      // the picture inside its bars
    QTimer* m_previewBoxTimer = nullptr;
    QSize m_firstSize;               // the template's size, the smallest the window gets
    QScrollBar* m_timelineScroll = nullptr;
    std::vector<MarkState> m_undo, m_redo;
    int m_markEdits = 0;             // MarkEdit scopes open
    JobRunner* m_runner = nullptr;  // launch, worker thread and poll of the job
    bool m_jobIsJoin = false;
    bool m_adding = false;
    bool m_launching = false;   // Convert or Merge is on the stack
    bool m_closePending = false;
    WindowDrag m_drag;
    std::vector<CutSpan> m_spans;  // in the order they are written
    QComboBox* m_comboSpans = nullptr;     // entry 0 marks a new span
    CControlButton* m_btnAddSpan = nullptr;
    QToolButton* m_btnSpanUp = nullptr;
    QToolButton* m_btnSpanDown = nullptr;
    QToolButton* m_btnSpanRemove = nullptr;
    BreakScanner* m_breakScanner = nullptr;
    QToolButton* m_btnBreaks = nullptr;  // its menu: find, remove found, load, save
    QAction* m_actFindBreaks = nullptr;
    QAction* m_actRemoveBreaks = nullptr;
    QAction* m_actLoadList = nullptr;
    QAction* m_actSaveList = nullptr;
    std::vector<CutSpan> m_foundBreaks;   // ms from the file's start
    std::vector<int64_t> m_foundPointsMs; // ascending
    QPushButton* m_btnCutTicked = nullptr;
    WindowPlayer* m_player = nullptr;
    QToolButton* m_btnPlayHere = nullptr;
    QueuePanel* m_queuePanel = nullptr;
    JobSequence* m_batch = nullptr;  // while a batch cut runs
    std::vector<int> m_batchRows;    // the list row of each of its files
};
