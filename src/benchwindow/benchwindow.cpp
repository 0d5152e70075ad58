#include "benchwindow/benchwindow.h"

#include "benchwindow/shiftcounters.h"
#include "benchwindow/sloteditor.h"
#include "core/files/filenames.h"
#include "core/serial/portlist.h"
#include "core/serial/portname.h"
#include "engine/flash/flashjob.h"
#include "engine/flash/flashrun.h"
#include "records/boardlog.h"
#include "ui_benchwindow.h"

#include <QActionGroup>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QScreen>
#include <QSet>
#include <QSettings>
#include <QStandardPaths>
#include <QStyle>
#include <QUrl>

#include <algorithm>

namespace {

constexpr int lookEveryMs = 1000;
// Four redraws a second: each stalls the boards' replies for as long as it paints, and a
// bar that moves four times a second reads as moving.
constexpr int viewEveryMs = 250;
constexpr int shownShaDigits = 12;
constexpr int imageLookEveryMs = 200;

QString settingsKey(const char *name)
{
    return QString::fromLatin1(name);
}

} // namespace

BenchWindow::BenchWindow(const StationOptions &options, QWidget *parent)
    : QMainWindow(parent), ui(new Ui_BenchWindow), m_options(options), m_metrics(options.metrics)
{
    ui->setupUi(this);
    setAcceptDrops(true);
    ui->tableView_boards->setModel(&m_model);
    ui->tableView_boards->setItemDelegateForColumn(BenchModel::Progress, &m_delegate);
    ui->tableView_boards->verticalHeader()->hide();
    ui->tableView_boards->horizontalHeader()->setStretchLastSection(false);
    ui->tableView_boards->horizontalHeader()->setSectionResizeMode(BenchModel::Result,
                                                                   QHeaderView::Stretch);
    // The wall and the table are two views of the rows with one selection: the current board
    // is the selected one, whichever view shows it.
    ui->listView_wall->setModel(&m_model);
    QItemSelectionModel *own = ui->listView_wall->selectionModel();
    ui->listView_wall->setSelectionModel(ui->tableView_boards->selectionModel());
    delete own;
    ui->listWidget_failed->setIconSize(QSize(16, 16));
    ui->listWidget_failed->hide();
    // The boards take the room; the list of failed ones a few lines under them.
    ui->splitter->setStretchFactor(0, 1);
    ui->splitter->setStretchFactor(1, 0);
    // Long texts never widen the window past a small screen: said whole on hover.
    for (QLabel *label : {ui->label_imageName, ui->label_imageFacts, ui->label_pace})
        label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    // Amber, with its word: a changed image is not to be missed, light or dark.
    ui->frame_imageChanged->setStyleSheet(
        QStringLiteral("QFrame#frame_imageChanged { background: #f9ab00; border-radius: 4px; }"
                       "QFrame#frame_imageChanged QLabel { color: #202124; font-weight: bold; }"));
    auto *views = new QActionGroup(this);
    views->addAction(ui->action_wall);
    views->addAction(ui->action_table);
    connect(views, &QActionGroup::triggered, this, [this](QAction *) { showView(); });
    connect(ui->action_dark, &QAction::toggled, this, &BenchWindow::applyColours);
    connect(ui->action_beep, &QAction::toggled, this,
            [](bool on) { QSettings().setValue(settingsKey("beep"), on); });

    connect(ui->pushButton_browse, &QPushButton::clicked, this, &BenchWindow::browse);
    connect(ui->pushButton_shift, &QPushButton::clicked, this, &BenchWindow::toggleShift);
    connect(ui->pushButton_copySha, &QPushButton::clicked, this,
            [this] { QGuiApplication::clipboard()->setText(m_imageRecord.sha256); });
    connect(ui->pushButton_loadImage, &QPushButton::clicked, this, &BenchWindow::loadNewImage);
    connect(ui->pushButton_flash, &QPushButton::clicked, this, &BenchWindow::flashSelected);
    connect(ui->pushButton_flashWaiting, &QPushButton::clicked, this,
            &BenchWindow::flashAllWaiting);
    connect(ui->pushButton_stop, &QPushButton::clicked, this, &BenchWindow::stopSelected);
    connect(ui->pushButton_retry, &QPushButton::clicked, this, &BenchWindow::retrySelected);
    connect(ui->pushButton_records, &QPushButton::clicked, this, &BenchWindow::openRecordsFolder);
    connect(ui->pushButton_slots, &QPushButton::clicked, this, &BenchWindow::editSlots);
    connect(ui->lineEdit_boardId, &QLineEdit::returnPressed, this, &BenchWindow::assignBoardId);
    connect(ui->checkBox_showAll, &QCheckBox::toggled, this, &BenchWindow::lookAtPorts);
    connect(ui->checkBox_autoFlash, &QCheckBox::toggled, this, [this](bool on) {
        if (m_run)
            m_run->setAutoFlash(on);
    });
    connect(ui->pushButton_applySlots, &QPushButton::clicked, this, &BenchWindow::applyNewSlots);
    connect(ui->tableView_boards->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &BenchWindow::updateActions);
    // Enter on a tile or a row flashes it, or retries a failed one.
    for (QAbstractItemView *view : {static_cast<QAbstractItemView *>(ui->listView_wall),
                                    static_cast<QAbstractItemView *>(ui->tableView_boards)}) {
        connect(view, &QAbstractItemView::activated, this, &BenchWindow::flashOrRetry);
        // A scanner types an ID and Enter wherever the focus is: into the board ID field.
        view->installEventFilter(this);
    }
    // Tab goes round the image row, the board ID field, the boards and the buttons.
    QWidget::setTabOrder(ui->pushButton_copySha, ui->pushButton_browse);
    QWidget::setTabOrder(ui->pushButton_browse, ui->pushButton_shift);
    QWidget::setTabOrder(ui->pushButton_shift, ui->pushButton_loadImage);
    QWidget::setTabOrder(ui->pushButton_loadImage, ui->pushButton_applySlots);
    QWidget::setTabOrder(ui->pushButton_applySlots, ui->checkBox_autoFlash);
    QWidget::setTabOrder(ui->checkBox_autoFlash, ui->checkBox_showAll);
    QWidget::setTabOrder(ui->checkBox_showAll, ui->lineEdit_boardId);
    QWidget::setTabOrder(ui->lineEdit_boardId, ui->listView_wall);
    QWidget::setTabOrder(ui->listView_wall, ui->tableView_boards);
    QWidget::setTabOrder(ui->tableView_boards, ui->listWidget_failed);
    QWidget::setTabOrder(ui->listWidget_failed, ui->pushButton_flash);
    QWidget::setTabOrder(ui->pushButton_flash, ui->pushButton_flashWaiting);
    QWidget::setTabOrder(ui->pushButton_flashWaiting, ui->pushButton_stop);
    QWidget::setTabOrder(ui->pushButton_stop, ui->pushButton_retry);
    QWidget::setTabOrder(ui->pushButton_retry, ui->pushButton_slots);
    QWidget::setTabOrder(ui->pushButton_slots, ui->pushButton_records);
    m_imageTimer.setInterval(imageLookEveryMs);
    connect(&m_imageTimer, &QTimer::timeout, this, &BenchWindow::lookAtChosenImage);

    const QSettings settings;
    fitScreen(settings.value(settingsKey("geometry")).toByteArray());
    ui->tableView_boards->horizontalHeader()->restoreState(
        settings.value(settingsKey("columns")).toByteArray());
    ui->checkBox_autoFlash->setChecked(settings.value(settingsKey("autoFlash"), true).toBool());
    ui->checkBox_showAll->setChecked(settings.value(settingsKey("showAllPorts"), false).toBool());
    (settings.value(settingsKey("view")).toString() == QStringLiteral("table") ? ui->action_table
                                                                               : ui->action_wall)
        ->setChecked(true);
    showView();
    ui->action_dark->setChecked(settings.value(settingsKey("dark"), false).toBool());
    ui->action_beep->setChecked(settings.value(settingsKey("beep"), false).toBool());

    // The station's store, kept from the first shift on; with --store, what waits for the line's.
    m_unsentLabel = new QLabel(this);
    m_unsentLabel->setObjectName(QStringLiteral("label_unsent"));
    statusBar()->addPermanentWidget(m_unsentLabel);
    m_unsentLabel->hide();
    connect(&m_records, &StationRecords::unsentChanged, this, [this](int count) {
        m_unsentLabel->setText(tr("records: %1 waiting for the server").arg(count));
        m_unsentLabel->setVisible(count > 0);
    });
    connect(&m_records, &StationRecords::serverChanged, this, [this](const QString &why) {
        m_unsentLabel->setToolTip(why.isEmpty() ? QString()
                                                : tr("The line's store is away: %1").arg(why));
    });
    connect(&m_records, &StationRecords::storeWriteFailed, this, [this](const QString &why) {
        statusBar()->showMessage(tr("The records' store cannot be written (the records file "
                                    "has each record): %1")
                                     .arg(why));
    });

    m_lookTimer.setInterval(lookEveryMs);
    connect(&m_lookTimer, &QTimer::timeout, this, &BenchWindow::lookAtPorts);
    m_lookTimer.start();
    m_viewTimer.setInterval(viewEveryMs);
    connect(&m_viewTimer, &QTimer::timeout, this, &BenchWindow::refreshView);
    m_viewTimer.start();
    lookAtPorts();
    showWhere();
    updateActions();
}

BenchWindow::~BenchWindow()
{
    if (m_run)
        m_run->interrupt(); // every board in progress recorded as cancelled
    m_run.reset();
    delete ui;
}

QString BenchWindow::recordsFolder()
{
    return BoardLog::dailyFolder();
}

bool BenchWindow::startMetrics(QString *why)
{
    if (m_options.metrics.listen.isEmpty() && m_options.metrics.file.isEmpty())
        return true;
    return m_metrics.start(why);
}

void BenchWindow::fitScreen(const QByteArray &saved)
{
    // The first start fills the screen it opens on; a place saved on a larger screen is
    // brought inside this one.
    const QScreen *screen = QGuiApplication::primaryScreen();
    if (saved.isEmpty() || !restoreGeometry(saved)) {
        // Maximized where a window manager does it; the screen's area where none is there.
        if (screen)
            setGeometry(screen->availableGeometry());
        setWindowState(windowState() | Qt::WindowMaximized);
        return;
    }
    if (!screen || isMaximized())
        return;
    const QRect available = screen->availableGeometry();
    // The frame is not known before the window is shown: room is left for a usual one, a title
    // bar above and a border round.
    const QMargins frame(8, 32, 8, 8);
    const QRect inside = available.marginsRemoved(frame);
    QRect place = geometry();
    place.setSize(place.size().boundedTo(inside.size()));
    place.moveLeft(qBound(inside.left(), place.left(), inside.right() - place.width() + 1));
    place.moveTop(qBound(inside.top(), place.top(), inside.bottom() - place.height() + 1));
    setGeometry(place);
}

void BenchWindow::showView()
{
    const bool wall = ui->action_wall->isChecked();
    ui->stackedWidget_views->setCurrentWidget(wall ? static_cast<QWidget *>(ui->listView_wall)
                                                   : ui->tableView_boards);
    QSettings().setValue(settingsKey("view"),
                         wall ? QStringLiteral("wall") : QStringLiteral("table"));
    if (wall)
        ui->listView_wall->layOutTiles();
}

void BenchWindow::applyColours(bool dark)
{
    // Dark colours for a dim line, light for a bright one: the tiles' own colours read at
    // 4.5:1 either way.
    QSettings().setValue(settingsKey("dark"), dark);
    if (!dark && !m_darkApplied)
        return;
    m_darkApplied = dark;
    QPalette palette = QApplication::style()->standardPalette();
    if (dark) {
        palette.setColor(QPalette::Window, QColor(0x20, 0x21, 0x24));
        palette.setColor(QPalette::WindowText, QColor(0xe8, 0xea, 0xed));
        palette.setColor(QPalette::Base, QColor(0x17, 0x18, 0x1b));
        palette.setColor(QPalette::AlternateBase, QColor(0x28, 0x2a, 0x2d));
        palette.setColor(QPalette::Text, QColor(0xe8, 0xea, 0xed));
        palette.setColor(QPalette::Button, QColor(0x30, 0x31, 0x34));
        palette.setColor(QPalette::ButtonText, QColor(0xe8, 0xea, 0xed));
        palette.setColor(QPalette::Highlight, QColor(0x8a, 0xb4, 0xf8));
        palette.setColor(QPalette::HighlightedText, QColor(0x20, 0x21, 0x24));
        palette.setColor(QPalette::ToolTipBase, QColor(0x30, 0x31, 0x34));
        palette.setColor(QPalette::ToolTipText, QColor(0xe8, 0xea, 0xed));
        palette.setColor(QPalette::PlaceholderText, QColor(0x9a, 0xa0, 0xa6));
        palette.setColor(QPalette::Disabled, QPalette::Text, QColor(0x80, 0x86, 0x8b));
        palette.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x80, 0x86, 0x8b));
        palette.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x80, 0x86, 0x8b));
    }
    QApplication::setPalette(palette);
}

void BenchWindow::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    // The shift's figures as large as the window allows: read from two metres on a large
    // screen, and still on one line on a small one.
    QFont big = ui->label_counters->font();
    big.setPixelSize(qBound(18, height() / 28, 44));
    ui->label_counters->setFont(big);
}

void BenchWindow::flashOrRetry(const QModelIndex &index)
{
    if (!m_run || !index.isValid())
        return;
    if (m_model.canRetry(index.row()) || m_model.canFlash(index.row()))
        flashRows({index.row()});
}

bool BenchWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        const QString text = key->text();
        const bool typed = !text.isEmpty() && text.at(0).isPrint() && !text.at(0).isSpace() &&
                           !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier));
        if (typed) { // the first character of an ID, and the field takes the rest
            ui->lineEdit_boardId->setFocus(Qt::OtherFocusReason);
            ui->lineEdit_boardId->insert(text);
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

QStringList BenchWindow::namedPorts() const
{
    QStringList ports = m_options.ports;
    QSet<QString> keys;
    for (const QString &port : std::as_const(ports))
        keys.insert(portKey(port));
    const QStringList slotPorts = m_options.station.slotPorts();
    for (const QString &port : slotPorts)
        if (!keys.contains(portKey(port)))
            ports << port;
    return ports;
}

void BenchWindow::editSlots()
{
    if (m_options.approval || m_jobRefused) // the job fixes them
        return;
    if (m_slotEditor)
        return m_slotEditor->raise();
    m_slotEditor = new SlotEditor(m_options.station, m_options.slotsFile, this);
    m_slotEditor->setAttribute(Qt::WA_DeleteOnClose);
    m_slotEditor->portsNow(m_presentPorts);
    // Boards plugged in to be named are not flashed meanwhile.
    if (m_run)
        m_run->setAutoFlash(false);
    connect(m_slotEditor, &QDialog::finished, this, [this] {
        if (m_run)
            m_run->setAutoFlash(ui->checkBox_autoFlash->isChecked());
    });
    connect(m_slotEditor, &QDialog::accepted, this, [this] {
        QString why;
        const std::optional<Station> station = m_slotEditor->station(&why);
        if (!station)
            return;
        if (!inShift()) {
            takeSlots(*station, m_slotEditor->file());
            statusBar()->showMessage(tr("Slots saved to %1.").arg(m_options.slotsFile));
            return;
        }
        // The running shift keeps its names until the operator applies the new ones.
        m_pendingStation = *station;
        m_pendingSlotsFile = m_slotEditor->file();
        ui->label_slots->setText(tr("New slots saved to %1: this shift keeps its names until "
                                    "you apply them; the next shift takes them.")
                                     .arg(m_pendingSlotsFile));
        ui->frame_slots->show();
    });
    m_slotEditor->show();
}

void BenchWindow::showWhere()
{
    // Where the records go, and what names the shift in them.
    QString text = tr("Records: %1").arg(recordsFile());
    if (!m_options.tag.isEmpty())
        text += tr(" · Tag: %1").arg(m_options.tag);
    if (!m_options.slotsFile.isEmpty())
        text += tr(" · Slots: %1").arg(m_options.slotsFile);
    statusBar()->showMessage(text);
}

QString BenchWindow::recordsFile() const
{
    return m_options.log.isEmpty() ? BoardLog::dailyFile(recordsFolder()) : m_options.log;
}

void BenchWindow::refuse(const QString &what, const QString &why)
{
    QMessageBox::warning(this, windowTitle(), QStringLiteral("%1\n%2").arg(what, why));
}

bool BenchWindow::chooseImage(const QString &path, bool thenStart)
{
    m_settlingPath = path;
    m_startWhenRead = thenStart;
    m_imageSettling = std::make_unique<ImageSettling>(files::pathOf(path));
    return lookAtChosenImage();
}

bool BenchWindow::lookAtChosenImage()
{
    // Half an image being written is no image: it is read once whole, however long it takes.
    const QString path = m_settlingPath;
    const std::filesystem::path file = files::pathOf(path);
    QString why;
    if (m_imageSettling->look(&why) == ImageSettling::State::Changing) {
        if (!m_imageTimer.isActive()) {
            ui->label_imageName->setText(tr("<b>%1</b>: waiting for it to be written whole")
                                             .arg(QFileInfo(path).fileName().toHtmlEscaped()));
            ui->label_imageFacts->setText(why);
            m_imageTimer.start();
            updateActions();
        }
        return false;
    }
    const std::optional<ImageStamp> before = m_imageSettling->stamp();
    std::optional<PaddedImage> image = readPaddedImage(file, &why, m_options.reading);
    if (image && ImageStamp::of(file) != before)
        return false; // changed while read: looked at again
    m_imageTimer.stop();
    m_imageSettling.reset();
    const bool start = std::exchange(m_startWhenRead, false);
    if (image)
        why = jobImageProblem(m_options, ImageRecord::of(path, *image));
    if (!image || !why.isEmpty()) {
        if (m_image)
            showImage(m_imageRecord); // the one chosen before stays
        refuse(tr("The image %1 cannot be used.").arg(path), why);
        updateActions();
        return false;
    }
    m_imagePath = path;
    m_imageFile = file;
    m_image = std::make_shared<const PaddedImage>(std::move(*image));
    m_imageRecord = ImageRecord::of(path, *m_image);
    m_imageModified = QFileInfo(path).lastModified();
    showImage(m_imageRecord);
    QSettings().setValue(settingsKey("imageFolder"), QFileInfo(path).absolutePath());
    updateActions();
    if (start)
        beginShift();
    return true;
}

void BenchWindow::refuseJob(const QString &why)
{
    m_jobRefused = true;
    ui->label_imageName->setText(tr("<b>No shift: the job is refused.</b>"));
    ui->label_imageFacts->setText(why);
    ui->label_imageFacts->setToolTip(why);
    updateActions();
    refuse(tr("The job cannot be run."), why);
}

void BenchWindow::showImage(const ImageRecord &image)
{
    ui->label_imageName->setText(
        QStringLiteral("<b>%1</b>").arg(QFileInfo(image.path).fileName().toHtmlEscaped()));
    ui->label_imageName->setToolTip(QDir::toNativeSeparators(image.path));
    // A HEX or S-record file: its format and where its bytes start, before the figures.
    const QString from =
        image.fileSha256.isEmpty()
            ? QString()
            : tr("%1 at 0x%2 · ")
                  .arg(image.format == QStringLiteral("ihex") ? tr("Intel HEX") : tr("S-record"))
                  .arg(image.base, 8, 16, QLatin1Char('0'));
    const QString gap = image.largeGapText();
    // The job approving it, beside it: its name, version and the key that signed it.
    const QString job = m_options.approval ? tr(" · Job %1 v%2, key %3")
                                                 .arg(m_options.approval->job.name)
                                                 .arg(m_options.approval->job.version)
                                                 .arg(m_options.approval->keyId)
                                           : QString();
    ui->label_imageFacts->setText(
        from +
        tr("%1 bytes, sent as %2 · SHA-256 %3… · changed %4")
            .arg(image.bytes)
            .arg(image.padded)
            .arg(image.sha256.left(shownShaDigits))
            .arg(QLocale().toString(m_imageModified, QLocale::ShortFormat)) +
        (gap.isEmpty() ? QString() : QStringLiteral(" · ") + gap));
    ui->label_imageFacts->setToolTip(
        image.fileSha256.isEmpty() ? tr("SHA-256 %1").arg(image.sha256)
                                   : tr("SHA-256 of the bytes sent %1\nSHA-256 of the file %2")
                                         .arg(image.sha256, image.fileSha256));
    ui->pushButton_copySha->setEnabled(true);
}

void BenchWindow::browse()
{
    const QString folder = QSettings().value(settingsKey("imageFolder")).toString();
    const QString path = QFileDialog::getOpenFileName(
        this, tr("Choose the image"), folder,
        tr("Images (*.bin *.hex *.ihex *.srec *.s19 *.s28 *.s37 *.mot);;All files (*)"));
    if (!path.isEmpty())
        chooseImage(path);
}

void BenchWindow::toggleShift()
{
    if (m_run)
        endShift();
    else
        startShift();
}

bool BenchWindow::startShift()
{
    if (!m_image || m_run || m_imageSettling)
        return false;
    // Read once more and held: what the file holds now is what every board of the shift gets,
    // once it is whole.
    if (!chooseImage(m_imagePath, true))
        return false;
    return m_run != nullptr;
}

bool BenchWindow::beginShift()
{
    FlashRun::Plan plan;
    plan.ports = namedPorts();
    plan.station = m_options.station;
    plan.tag = m_options.tag;
    plan.watch = true;
    plan.listed = PortWatcher::Listed::Usb;
    plan.detectTimeoutMs = m_options.detectTimeoutMs;
    plan.lockImage = true;
    plan.imageName = m_imagePath;
    plan.imageFile = m_imageFile;
    plan.reading = m_options.reading;
    if (m_options.log.isEmpty())
        plan.logFolder = recordsFolder();
    else
        plan.log = m_options.log;
    QString jobWhy;
    if (!m_job.begin(m_options, &plan, &jobWhy)) {
        refuse(tr("The shift cannot start: the job's state cannot be kept."), jobWhy);
        return false;
    }
    if (!m_recordsOpen) { // once a window: what the files hold is read in, the forwarder starts
        QString storeWhy;
        m_recordsOpen = m_records.open(m_options,
                                       plan.log.isEmpty() ? BoardLog::dailyFiles(plan.logFolder)
                                                          : QStringList{plan.log},
                                       &storeWhy);
        if (!m_recordsOpen) // the records files still have every record
            refuse(tr("The records' store cannot be opened."), storeWhy);
    }
    auto run = std::make_unique<FlashRun>(plan, m_image);
    if (m_recordsOpen)
        m_records.follow(*run);
    connect(run.get(), &FlashRun::jobStarted, this, [this](FlashJob *job) {
        m_model.jobStarted(job, m_run ? m_run->boardIdOf(job->port()) : QString());
        updateActions();
    });
    connect(run.get(), &FlashRun::jobFinished, this,
            [this](FlashJob *, const BoardRecord &board) { onJobFinished(board); });
    connect(run.get(), &FlashRun::imageChangedOnDisk, this,
            [this](const ImageRecord &, const QDateTime &when) { onImageChangedOnDisk(when); });
    connect(run.get(), &FlashRun::logWriteFailed, this, [this](const QString &why) {
        refuse(tr("The records cannot be written to %1.").arg(recordsFile()), why);
    });
    connect(run.get(), &FlashRun::countRefused, this, [this](const QString &why) {
        statusBar()->showMessage(tr("A board is not flashed: %1").arg(why));
        attention();
    });
    connect(run.get(), &FlashRun::logLineEnded, this, [this](const QString &file) {
        statusBar()->showMessage(
            tr("The records file %1 ended in a partial line (a write cut short before); it was "
               "ended, and each record stays on a line of its own.")
                .arg(file));
    });
    run->setAutoFlash(ui->checkBox_autoFlash->isChecked());
    // IDs scanned before the shift, each for the next board on its row.
    for (int row = 0; row < m_model.rowCount(); ++row)
        if (m_model.boardIdIsNext(row))
            run->setBoardId(m_model.port(row), m_model.boardId(row));
    m_metrics.setJob(plan.job, [this] { return m_job.remaining(); });
    if (m_records.forwarding())
        m_metrics.setUnsent([this] { return m_records.unsent(); });
    m_metrics.follow(*run);
    m_run = std::move(run);
    m_counters = ShiftTally();
    m_shiftStarted = QDateTime::currentDateTime();
    m_shiftClock.start();
    ui->listWidget_failed->clear();
    ui->listWidget_failed->hide();
    QString why;
    if (!m_run->start(&why)) {
        m_run.reset();
        refuse(tr("The shift cannot start: the records cannot be opened."), why);
        updateActions();
        return false;
    }
    ui->pushButton_shift->setText(tr("&End shift"));
    showWhere();
    updateActions();
    return true;
}

bool BenchWindow::endShift(bool ask)
{
    if (!m_run)
        return true;
    const qsizetype busy = m_run->running().size();
    const QString question =
        busy == 1 ? tr("1 board is being flashed. Stop it and end the shift? It is recorded as "
                       "cancelled.")
                  : tr("%1 boards are being flashed. Stop them and end the shift? They are "
                       "recorded as cancelled.")
                        .arg(busy);
    if (ask && busy > 0 &&
        QMessageBox::question(this, windowTitle(), question, QMessageBox::Yes | QMessageBox::No,
                              QMessageBox::No) != QMessageBox::Yes)
        return false;
    m_run->interrupt(); // each board stopped is finished and recorded before this returns
    m_run.reset();
    ui->pushButton_shift->setText(tr("&Start shift"));
    ui->frame_imageChanged->hide();
    refreshView();
    updateActions();
    return true;
}

void BenchWindow::onJobFinished(const BoardRecord &board)
{
    m_model.jobFinished(board);
    m_counters.add(board);
    if (board.result != BoardResult::Ok && board.result != BoardResult::Cancelled) {
        auto *item =
            new QListWidgetItem(style()->standardIcon(QStyle::SP_MessageBoxCritical),
                                QStringLiteral("%1  %2: %3")
                                    .arg(board.ended.time().toString(QStringLiteral("HH:mm:ss")),
                                         boardLabel(board), board.message));
        ui->listWidget_failed->insertItem(0, item);
        if (ui->listWidget_failed->isHidden()) { // a few lines under the boards, no more
            ui->listWidget_failed->show();
            const int lines = ui->listWidget_failed->fontMetrics().height() * 4;
            const int total = ui->splitter->height();
            ui->splitter->setSizes({qMax(0, total - lines), lines});
        }
        attention();
    }
    updateActions();
}

void BenchWindow::onImageChangedOnDisk(const QDateTime &when)
{
    ui->label_imageChanged->setText(
        tr("Image changed: the image changed on disk at %1. Boards still get the one loaded.")
            .arg(when.time().toString(QStringLiteral("HH:mm"))));
    ui->frame_imageChanged->show();
    attention();
}

void BenchWindow::attention()
{
    if (ui->action_beep->isChecked())
        QApplication::beep();
}

void BenchWindow::loadNewImage()
{
    if (!m_run || !m_run->takeChangedImage())
        return;
    m_image = m_run->paddedImage();
    m_imageRecord = m_run->image();
    m_imageModified = QFileInfo(m_imagePath).lastModified();
    showImage(m_imageRecord);
    ui->frame_imageChanged->hide();
}

void BenchWindow::lookAtPorts()
{
    QList<BenchModel::Port> ports;
    const bool all = ui->checkBox_showAll->isChecked();
    const QList<QSerialPortInfo> listed = recentListedPorts();
    const Station &station = m_options.station;
    const QStringList named = namedPorts();
    QSet<QString> given;
    for (const QString &port : named)
        given.insert(portKey(port));
    for (const QString &port : named) {
        // A named port is watched where its device node can be looked for, or where the system
        // lists it; any other (a port on another machine, one the system does not list) is a
        // row flashed by hand. One that is not there now is a row all the same, said absent.
        const bool watched =
            station.judge(port, QString(), true, false).watched &&
            (portsAreDeviceNodes() ||
             std::any_of(listed.cbegin(), listed.cend(),
                         [&](const QSerialPortInfo &info) { return info.portName() == port; }));
        BenchModel::Port row{port, QString(), false, watched, station.slotLabel(port), QString()};
        row.present = !watched || !portsAreDeviceNodes() || deviceNodeExists(port);
        ports << row;
    }
    for (const QSerialPortInfo &info : listed) {
        if (given.contains(portKey(info.portName())))
            continue; // one row for a port, however it is named
        if (!info.hasVendorIdentifier() && !all)
            continue;
        const Station::Verdict verdict = station.judge(info.portName(), usbId(info), false, false);
        ports << BenchModel::Port{
            info.portName(),
            info.serialNumber(),
            info.hasVendorIdentifier(),
            true,
            station.slotLabel(info.portName()),
            verdict.role == Station::Role::Ignored ? verdict.why : QString(),
        };
    }
    m_model.setPresent(ports);
    m_presentPorts.clear();
    for (const BenchModel::Port &port : std::as_const(ports))
        if (port.present)
            m_presentPorts << port.name;
    if (m_slotEditor)
        m_slotEditor->portsNow(m_presentPorts);
    applyRowFilter();
    updateActions();
}

void BenchWindow::applyRowFilter()
{
    // Ports the system lists without a vendor id (a built-in serial port, a modem) only with
    // "Show all ports": the bench's boards sit behind USB adapters.
    const bool all = ui->checkBox_showAll->isChecked();
    for (int row = 0; row < m_model.rowCount(); ++row) {
        const BenchModel::Port &port = m_model.portAt(row);
        const bool inSlot = !port.slot.isEmpty() && port.slot != unassignedSlot();
        const bool given = inSlot || m_options.ports.contains(port.name);
        const bool hidden = !(all || port.usb || given);
        ui->tableView_boards->setRowHidden(row, hidden);
        ui->listView_wall->setRowHidden(row, hidden);
    }
    ui->listView_wall->layOutTiles();
}

void BenchWindow::refreshView()
{
    m_model.refresh();
    showCounters();
}

void BenchWindow::takeSlots(const Station &station, const QString &file)
{
    m_options.station = station;
    m_options.slotsFile = file;
    if (m_run)
        m_run->setStation(station);
    ui->frame_slots->hide();
    m_pendingStation.reset();
    lookAtPorts();
    showWhere();
}

void BenchWindow::applyNewSlots()
{
    if (m_pendingStation)
        takeSlots(*m_pendingStation, m_pendingSlotsFile);
}

void BenchWindow::showCounters()
{
    if (!m_shiftClock.isValid())
        return;
    // Laid out again only when they say something new.
    const QString counters = countersText(m_counters);
    if (counters != ui->label_counters->text())
        ui->label_counters->setText(counters);
    QString pace = paceText(m_counters, m_shiftClock.elapsed(), m_shiftStarted.time());
    if (m_job.counted()) // what the job still allows, beside the pace
        pace = tr("<b>%1</b> left of the job &nbsp; ").arg(m_job.remaining()) + pace;
    if (pace != ui->label_pace->text())
        ui->label_pace->setText(pace);
}

QList<int> BenchWindow::selectedRows() const
{
    QList<int> rows;
    const QModelIndexList selected = ui->tableView_boards->selectionModel()->selectedRows();
    for (const QModelIndex &index : selected)
        rows << index.row();
    std::sort(rows.begin(), rows.end());
    return rows;
}

void BenchWindow::flashRows(const QList<int> &rows)
{
    if (!m_run)
        return;
    for (int row : rows)
        if (m_model.canFlash(row))
            m_run->flash(m_model.port(row));
    updateActions();
}

void BenchWindow::flashSelected()
{
    flashRows(selectedRows());
}

void BenchWindow::flashAllWaiting()
{
    QList<int> rows;
    for (int row = 0; row < m_model.rowCount(); ++row)
        if (m_model.isWaiting(row) && !ui->tableView_boards->isRowHidden(row))
            rows << row;
    flashRows(rows);
}

void BenchWindow::retrySelected()
{
    QList<int> rows;
    for (int row : selectedRows())
        if (m_model.canRetry(row))
            rows << row;
    flashRows(rows);
}

void BenchWindow::stopSelected()
{
    if (!m_run)
        return;
    for (int row : selectedRows())
        m_run->cancel(m_model.port(row));
    updateActions();
}

void BenchWindow::assignBoardId()
{
    const QString id = ui->lineEdit_boardId->text().trimmed();
    const QModelIndex current = ui->tableView_boards->currentIndex();
    if (id.isEmpty())
        return;
    if (!current.isValid()) { // never lost without a word
        statusBar()->showMessage(tr("Choose the board's row for the ID %1 first.").arg(id));
        return;
    }
    const int row = current.row();
    m_model.setBoardId(row, id);
    if (m_run)
        m_run->setBoardId(m_model.port(row), id);
    ui->lineEdit_boardId->clear();
    // A scanner types the next board's ID next: on to the next row shown.
    for (int next = row + 1; next < m_model.rowCount(); ++next) {
        if (!ui->tableView_boards->isRowHidden(next)) {
            ui->tableView_boards->selectRow(next);
            break;
        }
    }
}

void BenchWindow::openRecordsFolder()
{
    const QString folder = QFileInfo(recordsFile()).absolutePath();
    QDir().mkpath(folder);
    QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
}

void BenchWindow::updateActions()
{
    const QList<int> rows = selectedRows();
    const auto any = [&](auto rule) { return std::any_of(rows.cbegin(), rows.cend(), rule); };
    bool waiting = false;
    for (int row = 0; row < m_model.rowCount() && !waiting; ++row)
        waiting = m_model.isWaiting(row);
    // A job fixes the image, the slots and the adapters: ending the shift is the only way to
    // another job.
    const bool job = m_options.approval.has_value() || m_jobRefused;
    ui->pushButton_browse->setEnabled(!m_run && !job);
    ui->pushButton_slots->setEnabled(!job);
    ui->pushButton_loadImage->setVisible(!job);
    ui->pushButton_shift->setEnabled(m_image != nullptr && !m_jobRefused);
    ui->pushButton_flash->setEnabled(m_run && any([&](int row) { return m_model.canFlash(row); }));
    ui->pushButton_flashWaiting->setEnabled(m_run && waiting);
    ui->pushButton_retry->setEnabled(m_run && any([&](int row) { return m_model.canRetry(row); }));
    ui->pushButton_stop->setEnabled(
        m_run && any([&](int row) { return m_model.state(row) == BenchModel::State::Flashing; }));
}

void BenchWindow::saveSettings() const
{
    QSettings settings;
    settings.setValue(settingsKey("geometry"), saveGeometry());
    settings.setValue(settingsKey("columns"),
                      ui->tableView_boards->horizontalHeader()->saveState());
    settings.setValue(settingsKey("autoFlash"), ui->checkBox_autoFlash->isChecked());
    settings.setValue(settingsKey("showAllPorts"), ui->checkBox_showAll->isChecked());
}

void BenchWindow::closeEvent(QCloseEvent *event)
{
    if (!endShift()) {
        event->ignore();
        return;
    }
    saveSettings();
    QMainWindow::closeEvent(event);
}

void BenchWindow::dragEnterEvent(QDragEnterEvent *event)
{
    if (!m_run && !m_options.approval && !m_jobRefused && event->mimeData()->hasUrls() &&
        event->mimeData()->urls().size() == 1 && event->mimeData()->urls().first().isLocalFile())
        event->acceptProposedAction();
}

void BenchWindow::dropEvent(QDropEvent *event)
{
    chooseImage(event->mimeData()->urls().first().toLocalFile());
    event->acceptProposedAction();
}
