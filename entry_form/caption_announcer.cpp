#include "entry_form/caption_announcer.h"

#include "entry_form/form_add.h"

#include <QWidget>

namespace velmora {
namespace {

bool announcedAtOnce(const QString& caption) {
    return caption == QLatin1String("100% Complete") || caption == QLatin1String(FormAdd::kCaption);
}

} // namespace

CaptionAnnouncer::CaptionAnnouncer(QWidget& window) : QObject(&window), m_window(window) {
    m_waitingTurn.setSingleShot(true);
    // Never early: the interval is the promise made to the reader.
    m_waitingTurn.setTimerType(Qt::PreciseTimer);
    connect(&m_waitingTurn, &QTimer::timeout, this, [this] { announce(m_waiting); });
    connect(&window, &QWidget::windowTitleChanged, this, &CaptionAnnouncer::captionChanged);
}

void CaptionAnnouncer::captionChanged(const QString& caption) {
    const auto since = std::chrono::milliseconds(m_sinceLast.isValid() ? m_sinceLast.elapsed()
                                                                       : kInterval.count());
    if (announcedAtOnce(caption) || since >= kInterval) {
        announce(caption);
        return;
    }
    m_waiting = caption;
    if (!m_waitingTurn.isActive()) {
        m_waitingTurn.start(kInterval - since);
    }
}

void CaptionAnnouncer::announce(const QString& caption) {
    m_waitingTurn.stop();
    m_waiting.clear();
    m_sinceLast.start();
    // Sends the name-changed event that readers speak.
    m_window.setAccessibleName(caption);
}

} // namespace velmora
