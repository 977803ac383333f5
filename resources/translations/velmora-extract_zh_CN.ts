<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>QCommandLineParser</name>
    <message>
        <source>Usage: %1</source>
        <translation>用法：%1</translation>
    </message>
    <message>
        <source>[options]</source>
        <translation>[选项]</translation>
    </message>
    <message>
        <source>Options:</source>
        <translation>选项：</translation>
    </message>
    <message>
        <source>Arguments:</source>
        <translation>参数：</translation>
    </message>
    <message>
        <source>Unknown option &apos;%1&apos;.</source>
        <translation>未知选项“%1”。</translation>
    </message>
    <message>
        <source>Unknown options: %1.</source>
        <translation>未知选项：%1。</translation>
    </message>
    <message>
        <source>Missing value after &apos;%1&apos;.</source>
        <translation>“%1”后面缺少值。</translation>
    </message>
    <message>
        <source>Unexpected value after &apos;%1&apos;.</source>
        <translation>“%1”后面不应带值。</translation>
    </message>
</context>
<context>
    <name>QIODevice</name>
    <message>
        <source>No such file or directory</source>
        <translation>文件或文件夹不存在</translation>
    </message>
    <message>
        <source>Permission denied</source>
        <translation>没有权限</translation>
    </message>
    <message>
        <source>file to open is a directory</source>
        <translation>要打开的是一个文件夹</translation>
    </message>
    <message>
        <source>Too many open files</source>
        <translation>打开的文件太多</translation>
    </message>
    <message>
        <source>No space left on device</source>
        <translation>磁盘空间不足</translation>
    </message>
    <message>
        <source>Unknown error</source>
        <translation>未知错误</translation>
    </message>
</context>
<context>
    <name>cli</name>
    <message>
        <source>gave up: the page had not loaded after %1 s</source>
        <translation>已放弃：网页在 %1 秒内没有加载完成</translation>
    </message>
    <message>
        <source>only http:// and https:// addresses are read</source>
        <translation>只读取以 http:// 或 https:// 开头的地址</translation>
    </message>
    <message>
        <source>not a valid address</source>
        <translation>不是有效的地址</translation>
    </message>
    <message>
        <source>standard input</source>
        <translation>标准输入</translation>
    </message>
    <message>
        <source>Try &apos;velmora-extract --help&apos; for more information.</source>
        <translation>运行“velmora-extract --help”查看更多信息。</translation>
    </message>
    <message>
        <source>standard output is closed</source>
        <translation>标准输出已关闭</translation>
    </message>
    <message>
        <source>reading %1 pages at once, not %2: two per processor, and as many as free memory holds</source>
        <translation>同时读取 %1 个网页，而不是 %2 个：每个处理器最多两个，且不超过空闲内存所能容纳的数量</translation>
    </message>
    <message>
        <source>standard output</source>
        <translation>标准输出</translation>
    </message>
    <message>
        <source>--dedupe takes exact or nocase, not &apos;%1&apos;</source>
        <translation>--dedupe 只接受 exact 或 nocase，不接受“%1”</translation>
    </message>
    <message>
        <source>Print the links of web pages, loaded as a browser would.</source>
        <translation>像浏览器一样加载网页，输出其中的链接。</translation>
    </message>
    <message>
        <source>Show this help.</source>
        <translation>显示本帮助。</translation>
    </message>
    <message>
        <source>Show the version.</source>
        <translation>显示版本号。</translation>
    </message>
    <message>
        <source>Read addresses from FILE, one a line; - is standard input.</source>
        <translation>从 FILE 读取地址，每行一个；- 表示标准输入。</translation>
    </message>
    <message>
        <source>Keep only links that contain TEXT (letter case counts).</source>
        <translation>只保留包含 TEXT 的链接（区分大小写）。</translation>
    </message>
    <message>
        <source>Keep only links that contain TEXT, ignoring letter case.</source>
        <translation>只保留包含 TEXT 的链接，不区分大小写。</translation>
    </message>
    <message>
        <source>Drop links printed before, across all addresses; the first is kept. --dedupe=nocase ignores letter case, as the window does.</source>
        <translation>去掉之前输出过的链接（所有地址合起来算），
保留第一次出现的；--dedupe=nocase 不区分大小写，
与窗口版相同。</translation>
    </message>
    <message>
        <source>Write to FILE instead of standard output, replacing it once every address is done; - is standard output.</source>
        <translation>写入 FILE 而不是标准输出，在所有地址处理完后
一次替换该文件；- 表示标准输出。</translation>
    </message>
    <message>
        <source>End each link with NUL instead of a newline.</source>
        <translation>每个链接以 NUL 结尾，而不是换行。</translation>
    </message>
    <message>
        <source>Write as the window saves: GB18030, CR LF after each link.</source>
        <translation>按窗口版保存的格式输出：
GB18030 编码，每个链接后接 CR LF。</translation>
    </message>
    <message>
        <source>Say nothing of addresses that fail (the exit status still tells).</source>
        <translation>不报告失败的地址（退出状态仍会反映）。</translation>
    </message>
    <message>
        <source>Read up to N pages at once (default 1); at most two per processor and as many as free memory holds.</source>
        <translation>同时读取最多 N 个网页（默认 1）；
每个处理器最多两个，
且不超过空闲内存所能容纳的数量。</translation>
    </message>
    <message>
        <source>Stop waiting for a page not loaded after SECONDS: its links parsed by then are printed and it counts as failed (default 60; 0 waits for ever).</source>
        <translation>网页 SECONDS 秒后仍未加载完成就不再等待：输出届时已解析的链接，
并算作失败（默认 60；0 表示一直等）。</translation>
    </message>
    <message>
        <source>Wait at most MILLISECONDS after a page&apos;s load event for the requests it made to be answered and its links to stop changing (default 2000; 0 reads it at its load event). --timeout includes this wait.</source>
        <translation>在网页的 load 事件之后最多再等 MILLISECONDS
毫秒，等它发出的请求都有回应、链接不再变化
（默认 2000；0 表示在 load 事件时就读取）。
这段等待计入 --timeout。</translation>
    </message>
    <message>
        <source>Addresses to read, in turn.</source>
        <translation>要依次读取的地址。</translation>
    </message>
    <message>
        <source>--input needs a file name</source>
        <translation>--input 需要一个文件名</translation>
    </message>
    <message>
        <source>no address given</source>
        <translation>没有给出地址</translation>
    </message>
    <message>
        <source>--filter and --filter-nocase cannot be combined</source>
        <translation>--filter 和 --filter-nocase 不能同时使用</translation>
    </message>
    <message>
        <source>--json, --null and --gb18030 cannot be combined</source>
        <translation>--json、--null 和 --gb18030 只能选一个</translation>
    </message>
    <message>
        <source>--output needs a file name</source>
        <translation>--output 需要一个文件名</translation>
    </message>
    <message>
        <source>--jobs wants a whole number from 1 to %1</source>
        <translation>--jobs 应为 1 到 %1 之间的整数</translation>
    </message>
    <message>
        <source>--timeout wants a whole number of seconds from 0 to %1</source>
        <translation>--timeout 应为 0 到 %1 之间的整数秒数</translation>
    </message>
    <message>
        <source>--settle wants a whole number of milliseconds from 0 to %1</source>
        <translation>--settle 应为 0 到 %1 之间的整数毫秒数</translation>
    </message>
    <message>
        <source>
Addresses come from the arguments, then from --input, one a line (blank
lines and lines starting with # are skipped); with neither, from standard
input. Only http:// and https:// addresses are read. Each page is loaded by
headless Chromium through the proxy that http_proxy, https_proxy, all_proxy
and no_proxy name, and read once it has loaded and what it requested while
loading has come (at most --settle milliseconds after its load). Its links
are printed in the order of the addresses, each page&apos;s together, in
document order: a frame&apos;s where its element stands (--frames), a shadow
tree&apos;s where its host stands (--shadow). Each failure is one line on
standard error.

Exit status:
  0  every address was read
  1  some addresses failed
  2  the arguments, the input, the output or the engine were unusable
</source>
        <translation>
地址先取自参数，再取自 --input 给出的文件，每行一个（跳过空行和以 # 开头的
行）；两者都没有时，从标准输入读取。只读取 http:// 和 https:// 地址。每个网页
由无界面的 Chromium 经 http_proxy、https_proxy、all_proxy 和 no_proxy 指定的
代理加载，在加载完成、且加载时发出的请求都有了回应后读取（最多在加载完成后再
等 --settle 毫秒）。链接按地址的顺序输出，同一网页的链接连在一起，并按文档顺
序排列：框架中的链接放在框架元素所在处（--frames），影子树中的链接放在其宿主
元素所在处（--shadow）。每个失败的地址在标准错误上占一行。

退出状态：
  0  所有地址都已读取
  1  有地址失败
  2  参数、输入、输出或引擎无法使用
</translation>
    </message>
    <message>
        <source>Write JSON Lines: an object per link, with its text and where it came from, and one per failed address (see the manual).</source>
        <translation>输出 JSON Lines：每个链接一个对象，含其文字和出处，
每个失败的地址也有一个（详见手册）。</translation>
    </message>
    <message>
        <source>Also read the links of every frame of the page, each where its frame element stands.</source>
        <translation>同时读取网页中每个框架里的链接，
放在该框架元素所在的位置。</translation>
    </message>
    <message>
        <source>Also read the links inside shadow trees, open and closed, in tree order.</source>
        <translation>同时按树的顺序读取影子树
（开放的和封闭的）中的链接。</translation>
    </message>
    <message>
        <source>Also read the area elements of image maps that have an href.</source>
        <translation>同时读取图像映射中带 href 的 area 元素。</translation>
    </message>
    <message>
        <source>The same as --frames --shadow --areas.</source>
        <translation>等同于 --frames --shadow --areas。</translation>
    </message>
</context>
</TS>
