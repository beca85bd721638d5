#include <brano/core/v6/datetime.hpp>

#include <QDateTime>

namespace brano::core::v6 {

datetime datetime::now() {
    return from_msecs_since_epoch(QDateTime::currentMSecsSinceEpoch());
}

datetime datetime::from_msecs_since_epoch(long long msecs) {
    datetime result;
    result.msecs_ = msecs;
    return result;
}

date datetime::get_date() const {
    QDate const local = QDateTime::fromMSecsSinceEpoch(msecs_).date();
    return date(local.year(), local.month(), local.day());
}

} // namespace brano::core::v6
