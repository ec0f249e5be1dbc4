// Desktop notifications through notify-send.
#pragma once
#include "core/base.h"
#include "core/memory.h"

// Process ids of the notify-send children not yet reaped (8-byte entries),
// and the lock that serialises senders.
extern Dynamic_Array global_os_notifications;
extern volatile u8 global_os_notifications_lock;

// Sends at once, without waiting; the texts go to notify-send as they are
// (quotes and all: each is one argument).
void create_os_notification(String title, String message);
