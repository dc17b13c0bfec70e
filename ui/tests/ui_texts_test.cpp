// The tool's texts must reach the program as code-page-936 bytes, whatever the source encoding.
#include "ui/ui_texts.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "ui/code_page.h"

namespace qinglan {
namespace {

TEST(UiTexts, AreCodePage936Bytes) {
    EXPECT_EQ(std::string(kReadButtonText), "\xB6\xC1\xC8\xA1");    // 读取
    EXPECT_EQ(std::string(kDownloadMenuText), "\xCF\xC2\xD4\xD8");  // 下载
    EXPECT_EQ(std::string(kCopyMenuText), "\xB8\xB4\xD6\xC6");      // 复制
    EXPECT_EQ(std::string(kMainWindowCaption),
              "\xC7\xE0\xE1\xB0 - \xCA\xD3\xC6\xB5\xCF\xC2\xD4\xD8\xB9\xA4\xBE\xDF");
}

// The version resource is compiled from a code-page-936 script; its texts must arrive whole.
TEST(Resources, TheVersionInformationCarriesTheChineseDescription) {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path, &ignored);
    ASSERT_GT(size, 0u);
    std::vector<unsigned char> data(size);
    ASSERT_TRUE(GetFileVersionInfoW(path, 0, size, data.data()));
    void* value = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(data.data(), L"\\StringFileInfo\\080403a8\\FileDescription", &value,
                               &length));
    EXPECT_EQ(from_wide(static_cast<const wchar_t*>(value)),
              Text("\xC7\xE0\xE1\xB0 - \xCA\xD3\xC6\xB5\xCF\xC2\xD4\xD8\xB9\xA4\xBE\xDF"));
}

TEST(CodePage, ConvertsThroughCodePage936WhateverTheSystemUses) {
    const Text text = "http://v.example/\xCF\xC2\xD4\xD8";
    EXPECT_EQ(to_wide(text), L"http://v.example/\u4E0B\u8F7D");
    EXPECT_EQ(from_wide(L"\u9752\u5C9A"), Text("\xC7\xE0\xE1\xB0"));  // 青岚
    EXPECT_EQ(from_wide(L""), Text());
}

}  // namespace
}  // namespace qinglan
