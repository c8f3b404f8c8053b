// Tells running ASIO drivers that the panel changed the settings: the change event is set only
// while a driver's watcher listens (its listening event exists).
#pragma once

void NotifyAsioSettingsChanged();
