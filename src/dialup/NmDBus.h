#pragma once

#include <QMap>
#include <QString>
#include <QVariantMap>

// Names and numbers of NetworkManager's D-Bus interface that the dialer uses.
namespace Nm {

inline constexpr const char *kService = "org.freedesktop.NetworkManager";
inline constexpr const char *kPath = "/org/freedesktop/NetworkManager";
inline constexpr const char *kInterface = "org.freedesktop.NetworkManager";
inline constexpr const char *kDeviceInterface = "org.freedesktop.NetworkManager.Device";
inline constexpr const char *kModemInterface = "org.freedesktop.NetworkManager.Device.Modem";
inline constexpr const char *kActiveInterface = "org.freedesktop.NetworkManager.Connection.Active";
inline constexpr const char *kSettingsConnectionInterface = "org.freedesktop.NetworkManager.Settings.Connection";
inline constexpr const char *kPropertiesInterface = "org.freedesktop.DBus.Properties";

// NMDeviceType
inline constexpr uint kDeviceTypeModem = 8;

// NMDeviceState
inline constexpr uint kDeviceStateDisconnected = 30;
inline constexpr uint kDeviceStateActivated = 100;
inline constexpr uint kDeviceStateFailed = 120;

// NMDeviceModemCapabilities
inline constexpr uint kModemPots = 0x1;
inline constexpr uint kModemCdmaEvdo = 0x2;
inline constexpr uint kModemGsmUmts = 0x4;
inline constexpr uint kModemLte = 0x8;
inline constexpr uint kModem5gnr = 0x40;

// NMActiveConnectionState
inline constexpr uint kActiveActivating = 1;
inline constexpr uint kActiveActivated = 2;
inline constexpr uint kActiveDeactivating = 3;
inline constexpr uint kActiveDeactivated = 4;

// NMActiveConnectionStateReason
namespace ActiveReason {
inline constexpr uint UserDisconnected = 2;
inline constexpr uint DeviceDisconnected = 3;
inline constexpr uint ConnectTimeout = 6;
inline constexpr uint NoSecrets = 9;
inline constexpr uint LoginFailed = 10;
inline constexpr uint DeviceRealizeFailed = 13;
inline constexpr uint DeviceRemoved = 14;
} // namespace ActiveReason

// NMDeviceStateReason
namespace DeviceReason {
inline constexpr uint NoSecrets = 7;
inline constexpr uint PppStartFailed = 12;
inline constexpr uint PppDisconnect = 13;
inline constexpr uint PppFailed = 14;
inline constexpr uint ModemBusy = 23;
inline constexpr uint ModemNoDialTone = 24;
inline constexpr uint ModemNoCarrier = 25;
inline constexpr uint ModemDialTimeout = 26;
inline constexpr uint ModemDialFailed = 27;
inline constexpr uint ModemInitFailed = 28;
inline constexpr uint UserRequested = 39;
inline constexpr uint ModemNotFound = 43;
inline constexpr uint ModemManagerUnavailable = 52;
} // namespace DeviceReason

// A connection's settings on the wire: a{sa{sv}}, setting name -> properties.
using ConnectionSettings = QMap<QString, QVariantMap>;

// Makes ConnectionSettings known to Qt D-Bus; safe to call more than once.
void registerDBusTypes();

} // namespace Nm
