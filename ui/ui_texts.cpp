// The tool's texts. This file is compiled with code page 936 (GBK) as the execution character set,
// so each literal below is stored as code-page-936 bytes although the source is UTF-8. It must
// include nothing that has characters outside that code page.
#include "ui/ui_texts.h"

namespace qinglan {

const char kMainWindowCaption[] = "青岚 - 视频下载工具";
const char kReadButtonText[] = "读取";
const char kInstructionsButtonText[] = "使用说明 - 必看";
const char kAddressListHeader[] = "网站";
const char kDownloadMenuText[] = "下载";
const char kCopyMenuText[] = "复制";

const char kInstructionsWindowCaption[] = "使用说明";

const char kUpperText[] =
    "如优酷、土豆、各大视频站，如若想下载视频。必须下载官方播放器。\r\n"
    "\r\n"
    "大小约几十M还需要安装才可使用，各种麻烦，于是本软件产生了。\r\n"
    "\r\n"
    "1：输入你的观看地址\r\n"
    "\r\n"
    "2：点击读取\r\n"
    "\r\n"
    "3：选中你的地址，可以选择下载，也可以选择复制，可复制到迅雷下载等等";

// The last line starts with 22 spaces and has 3 between its two words.
const char kLowerText[] =
    "添加我们的二维码，可跟客服咨询使用方法；\r\n"
    "\r\n"
    "每日发送一则精品笑话图片、休闲娱乐、每日选中10位用户发送1枚价值10元QQ业务\r\n"
    "\r\n"
    "关注我们微信吧。或者 打开微信 - 添加好友 - 输入账号【varevovidiviz】\r\n"
    "\r\n"
    "                      青岚下载   拼音全称";

}  // namespace qinglan
