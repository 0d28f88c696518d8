// SPDX-License-Identifier: GPL-3.0-or-later
#include "ftp/EngineConnections.h"

#include "net/Socket.h"

#include <utility>

namespace zodaru {

std::shared_ptr<Socket> EngineConnections::control() const
{
    std::lock_guard lock(mutex_);
    return PI;
}

std::shared_ptr<Socket> EngineConnections::data() const
{
    std::lock_guard lock(mutex_);
    return DTP;
}

void EngineConnections::publishControl(std::shared_ptr<Socket> control, const std::atomic<bool> &givenUp)
{
    std::lock_guard lock(mutex_);
    if (!givenUp)
        PI = std::move(control);
}

void EngineConnections::publishData(std::shared_ptr<Socket> data)
{
    std::lock_guard lock(mutex_);
    if (PI) // not closed meanwhile by another thread
        DTP = std::move(data);
}

void EngineConnections::forgetData()
{
    std::lock_guard lock(mutex_);
    DTP.reset();
}

void EngineConnections::forgetData(const std::shared_ptr<Socket> &data)
{
    std::lock_guard lock(mutex_);
    if (DTP == data)
        DTP.reset();
}

void EngineConnections::dropAll()
{
    std::shared_ptr<Socket> control;
    std::shared_ptr<Socket> data;
    {
        std::lock_guard lock(mutex_);
        control = std::exchange(PI, nullptr);
        data = std::exchange(DTP, nullptr);
    }
    if (control)
        control->shutdownBoth();
    if (data)
        data->shutdownBoth();
}

} // namespace zodaru
