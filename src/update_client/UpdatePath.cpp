#include "update_client/UpdatePath.h"

#include <QTimer>

// Placeholder until downloads land: the update path ends in the failure prompt with an empty
// description.
UpdatePath::UpdatePath(QNetworkAccessManager*, QObject* parent) : QObject(parent) {}

UpdatePath::~UpdatePath() = default;

void UpdatePath::start(const UpdateInfo&) {
    QTimer::singleShot(0, this, [this] { emit failed(QString()); });
}
