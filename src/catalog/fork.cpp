#include "catalog/fork.h"

#include <QDebug>

#include <exception>

namespace mr {

TFork::TFork(std::function<void()> call) : m_call(std::move(call)) {
    connect(this, &QThread::finished, this, &QObject::deleteLater);
}

void TFork::run() {
    try {
        m_call();
    } catch (const std::exception& e) {
        qWarning("catalog worker ended by an error: %s", e.what());
    }
    m_call = nullptr;
}

}  // namespace mr
