// JPEG marker codes (the byte after FF), named as T.81 names them: the
// vocabulary that both JPEG plug-ins share with nothing but the contract.
// C++ only; nothing here crosses the boundary.
#pragma once
#include <cstdint>

constexpr uint8_t kMarkerPrefix = 0xFF;
constexpr uint8_t kStuffedZero = 0x00;  // FF 00: a data byte FF, no marker
constexpr uint8_t kTEM = 0x01;
constexpr uint8_t kSOF0 = 0xC0;  // baseline
constexpr uint8_t kSOF1 = 0xC1;  // extended sequential
constexpr uint8_t kSOF2 = 0xC2;  // progressive
constexpr uint8_t kSOF3 = 0xC3;  // lossless
constexpr uint8_t kDHT = 0xC4;
constexpr uint8_t kSOF5 = 0xC5;  // differential (hierarchical): C5-C7, CD-CF
constexpr uint8_t kSOF6 = 0xC6;
constexpr uint8_t kSOF7 = 0xC7;
constexpr uint8_t kJPG = 0xC8;
constexpr uint8_t kSOF9 = 0xC9;   // arithmetic: C9-CB
constexpr uint8_t kSOF10 = 0xCA;
constexpr uint8_t kSOF11 = 0xCB;
constexpr uint8_t kDAC = 0xCC;
constexpr uint8_t kSOF13 = 0xCD;
constexpr uint8_t kSOF14 = 0xCE;
constexpr uint8_t kSOF15 = 0xCF;
constexpr uint8_t kRST0 = 0xD0;
constexpr uint8_t kRST1 = 0xD1;
constexpr uint8_t kRST2 = 0xD2;
constexpr uint8_t kRST3 = 0xD3;
constexpr uint8_t kRST4 = 0xD4;
constexpr uint8_t kRST5 = 0xD5;
constexpr uint8_t kRST6 = 0xD6;
constexpr uint8_t kRST7 = 0xD7;
constexpr uint8_t kSOI = 0xD8;
constexpr uint8_t kEOI = 0xD9;
constexpr uint8_t kSOS = 0xDA;
constexpr uint8_t kDQT = 0xDB;
constexpr uint8_t kDNL = 0xDC;
constexpr uint8_t kDRI = 0xDD;
constexpr uint8_t kDHP = 0xDE;
constexpr uint8_t kEXP = 0xDF;
constexpr uint8_t kAPP0 = 0xE0;
constexpr uint8_t kAPP15 = 0xEF;
constexpr uint8_t kJPG0 = 0xF0;
constexpr uint8_t kJPG13 = 0xFD;
constexpr uint8_t kCOM = 0xFE;
