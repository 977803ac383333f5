<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US" sourcelanguage="zh_CN">
<context>
    <name>core</name>
    <message>
        <source>所在的文件夹不存在</source>
        <translation>the folder it is in does not exist</translation>
    </message>
    <message>
        <source>没有在这个文件夹里写入的权限</source>
        <translation>no permission to write in that folder</translation>
    </message>
    <message>
        <source>已有同名的文件夹</source>
        <translation>a folder of that name is in the way</translation>
    </message>
    <message>
        <source>磁盘空间不足</source>
        <translation>the disk is full</translation>
    </message>
    <message>
        <source>磁盘是只读的</source>
        <translation>the disk is read-only</translation>
    </message>
    <message>
        <source>文件超过了允许的大小</source>
        <translation>the file is larger than allowed</translation>
    </message>
    <message>
        <source>文件名太长</source>
        <translation>the file name is too long</translation>
    </message>
    <message>
        <source>打开的文件太多</source>
        <translation>too many open files</translation>
    </message>
    <message>
        <source>磁盘读写出错</source>
        <translation>input/output error on the disk</translation>
    </message>
    <message>
        <source>文件名无效</source>
        <translation>the file name is not valid</translation>
    </message>
    <message>
        <source>文件正在被使用</source>
        <translation>the file is in use</translation>
    </message>
    <message>
        <source>符号链接层数太多（可能是循环链接）</source>
        <translation>too many levels of symbolic links (perhaps a loop)</translation>
    </message>
    <message>
        <source>系统错误（错误码 %1）</source>
        <translation>system error (code %1)</translation>
    </message>
    <message>
        <source>文件是只读的</source>
        <translation>the file is read-only</translation>
    </message>
    <message>
        <source>原因不明</source>
        <translation>reason unknown</translation>
    </message>
    <message>
        <source>无法创建文件“%1”：%2</source>
        <translation>cannot create the file &apos;%1&apos;: %2</translation>
    </message>
    <message>
        <source>无法写入文件“%1”：%2</source>
        <translation>cannot write the file &apos;%1&apos;: %2</translation>
    </message>
    <message>
        <source>无法用新文件替换“%1”：%2</source>
        <translation>cannot replace &apos;%1&apos; with the new file: %2</translation>
    </message>
    <message>
        <source>命名管道</source>
        <translation>named pipe</translation>
    </message>
    <message>
        <source>套接字</source>
        <translation>socket</translation>
    </message>
    <message>
        <source>设备文件</source>
        <translation>device file</translation>
    </message>
    <message>
        <source>特殊文件</source>
        <translation>special file</translation>
    </message>
    <message>
        <source>无法创建文件：没有给出文件名</source>
        <translation>cannot create the file: no file name given</translation>
    </message>
    <message>
        <source>无法保存到文件“%1”：这里已有一个%2，它不是普通文件，没有改动它</source>
        <translation>cannot save to &apos;%1&apos;: it is a %2, not a regular file, and was left alone</translation>
    </message>
</context>
<context>
    <name>engine</name>
    <message>
        <source>与 Chromium 的连接中断</source>
        <translation>the connection to Chromium was lost</translation>
    </message>
    <message>
        <source>Chromium 没有打开任何标签页</source>
        <translation>Chromium opened no tab</translation>
    </message>
    <message>
        <source>Chromium 意外退出（%1），本次提取已中断；下次提取时会自动重新启动它。</source>
        <translation>Chromium quit unexpectedly (%1); this extraction was stopped, and Chromium will be started again for the next one</translation>
    </message>
    <message>
        <source>Chromium 启动失败（%1），本次提取未能进行；下次提取时会再次尝试启动。</source>
        <translation>Chromium failed to start (%1), so nothing was extracted; it will be tried again for the next extraction</translation>
    </message>
    <message>
        <source>Chromium 的最后输出：</source>
        <translation>Chromium&apos;s last output:</translation>
    </message>
    <message>
        <source>Chromium 出现错误（%1），已将其关闭；下次提取时会自动重新启动它。</source>
        <translation>Chromium failed (%1) and was shut down; it will be started again for the next extraction</translation>
    </message>
    <message>
        <source>Chromium 长时间没有响应（%1），已将其强制结束并重新启动；请重新提取。</source>
        <translation>Chromium stopped answering (%1), so it was killed and started again; extract again</translation>
    </message>
    <message>
        <source>请安装 Debian 软件包 chromium-headless-shell 或 chromium（sudo apt install chromium-headless-shell）后重试。</source>
        <translation>install the Debian package chromium-headless-shell or chromium (sudo apt install chromium-headless-shell) and try again</translation>
    </message>
    <message>
        <source>找不到 Chromium：环境变量 VELMORA_CHROMIUM 指向的文件“%1”不存在。%2</source>
        <translation>Chromium not found: the file &apos;%1&apos; that VELMORA_CHROMIUM names does not exist; %2</translation>
    </message>
    <message>
        <source>无法使用 Chromium：环境变量 VELMORA_CHROMIUM 指向的“%1”不是可执行文件。%2</source>
        <translation>cannot use Chromium: &apos;%1&apos;, which VELMORA_CHROMIUM names, is not an executable file; %2</translation>
    </message>
    <message>
        <source>找不到 Chromium 浏览器，无法提取网页链接。%1</source>
        <translation>Chromium not found, so no links can be extracted; %1</translation>
    </message>
    <message>
        <source>无法创建 Chromium 的临时配置文件夹（%1），Chromium 无法启动。</source>
        <translation>cannot create Chromium&apos;s temporary profile folder (%1), so Chromium cannot start</translation>
    </message>
    <message>
        <source>无法创建与 Chromium 通信的管道（%1），Chromium 无法启动。</source>
        <translation>cannot create the pipes to Chromium (%1), so Chromium cannot start</translation>
    </message>
    <message>
        <source>无法运行 Chromium（%1）</source>
        <translation>cannot run Chromium (%1)</translation>
    </message>
    <message>
        <source>Chromium 意外终止</source>
        <translation>Chromium crashed</translation>
    </message>
    <message>
        <source>Chromium 已退出（退出码 %1）</source>
        <translation>Chromium exited with status %1</translation>
    </message>
    <message>
        <source>网页 %1 的链接文字超过了上限（%2 个字符）：只读取了前 %3 个链接，其余的已略去。</source>
        <translation>the links of the page %1 hold more text than the limit (%2 characters): only its first %3 links were read, the rest were left out</translation>
    </message>
    <message>
        <source>网页 %1 长时间没有响应，未能读取其中的链接。</source>
        <translation>the page %1 stopped answering; its links could not be read</translation>
    </message>
    <message>
        <source>网页 %1 在 %2 秒内没有加载完成，未能读取其中的链接。</source>
        <translation>the page %1 had not loaded after %2 s; its links could not be read</translation>
    </message>
    <message>
        <source>网页 %1 在 %2 秒内没有加载完成，已读取当时已有的链接。</source>
        <translation>the page %1 had not loaded after %2 s; the links it held then were read</translation>
    </message>
    <message>
        <source>无法打开网页 %1：Chromium 不接受这个地址（%2）。</source>
        <translation>cannot open the page %1: Chromium does not accept this address (%2)</translation>
    </message>
    <message>
        <source>网页 %1 的渲染进程崩溃了，未能读取其中的链接。</source>
        <translation>the renderer of the page %1 crashed; its links could not be read</translation>
    </message>
    <message>
        <source>服务器拒绝了连接，该端口上可能没有运行网站</source>
        <translation>the server refused the connection; perhaps no web site runs on that port</translation>
    </message>
    <message>
        <source>无法解析该主机名，请检查地址是否拼写正确</source>
        <translation>the host name could not be resolved; check the spelling of the address</translation>
    </message>
    <message>
        <source>域名解析失败，请检查网络连接</source>
        <translation>name resolution failed; check the network connection</translation>
    </message>
    <message>
        <source>该端口被浏览器视为不安全端口，禁止访问</source>
        <translation>the browser deems that port unsafe and does not open it</translation>
    </message>
    <message>
        <source>服务器返回了错误状态，且没有页面内容</source>
        <translation>the server answered with an error status and no page</translation>
    </message>
    <message>
        <source>地址格式无效</source>
        <translation>the address is malformed</translation>
    </message>
    <message>
        <source>连接被服务器重置</source>
        <translation>the server reset the connection</translation>
    </message>
    <message>
        <source>服务器意外关闭了连接</source>
        <translation>the server closed the connection unexpectedly</translation>
    </message>
    <message>
        <source>服务器没有返回任何数据</source>
        <translation>the server sent no data</translation>
    </message>
    <message>
        <source>连接服务器超时</source>
        <translation>connecting to the server timed out</translation>
    </message>
    <message>
        <source>操作超时</source>
        <translation>the operation timed out</translation>
    </message>
    <message>
        <source>无法到达该地址</source>
        <translation>the address cannot be reached</translation>
    </message>
    <message>
        <source>网络未连接</source>
        <translation>the network is not connected</translation>
    </message>
    <message>
        <source>网页重定向次数过多</source>
        <translation>the page redirected too many times</translation>
    </message>
    <message>
        <source>网页重定向到了不允许打开的地址（如本机文件）</source>
        <translation>the page redirected to an address that may not be opened (such as a local file)</translation>
    </message>
    <message>
        <source>服务器的响应无效</source>
        <translation>the server&apos;s response is not valid</translation>
    </message>
    <message>
        <source>服务器的响应不是有效的 HTTP</source>
        <translation>the server&apos;s response is not valid HTTP</translation>
    </message>
    <message>
        <source>服务器的响应头禁止显示该网页</source>
        <translation>the server&apos;s response headers forbid showing the page</translation>
    </message>
    <message>
        <source>加载被中止</source>
        <translation>loading was aborted</translation>
    </message>
    <message>
        <source>网站的安全证书不受信任（不是由受信任的机构签发，例如自签名证书）</source>
        <translation>the site&apos;s certificate is not trusted (not issued by a trusted authority; self-signed, for instance)</translation>
    </message>
    <message>
        <source>网站的安全证书与该地址的主机名不符</source>
        <translation>the site&apos;s certificate does not match the host name of the address</translation>
    </message>
    <message>
        <source>网站的安全证书已过期或尚未生效（也请检查本机的日期和时间）</source>
        <translation>the site&apos;s certificate has expired or is not yet valid (check this computer&apos;s date and time too)</translation>
    </message>
    <message>
        <source>网站的安全证书已被吊销</source>
        <translation>the site&apos;s certificate has been revoked</translation>
    </message>
    <message>
        <source>无法连接代理服务器（由 http_proxy、https_proxy 或 all_proxy 设置）</source>
        <translation>cannot connect to the proxy (set by http_proxy, https_proxy or all_proxy)</translation>
    </message>
    <message>
        <source>代理服务器未能建立到网站的连接</source>
        <translation>the proxy could not connect to the site</translation>
    </message>
    <message>
        <source>代理服务器要求登录；代理地址中的用户名和密码不会交给 Chromium</source>
        <translation>the proxy asks for a login; a user name and password in the proxy&apos;s address are not given to Chromium</translation>
    </message>
    <message>
        <source>网站的安全证书有问题</source>
        <translation>the site&apos;s certificate is not valid</translation>
    </message>
    <message>
        <source>与网站建立安全连接（TLS）失败</source>
        <translation>the secure connection (TLS) to the site failed</translation>
    </message>
    <message>
        <source>代理服务器出错</source>
        <translation>the proxy failed</translation>
    </message>
    <message>
        <source>网页加载失败</source>
        <translation>the page failed to load</translation>
    </message>
    <message>
        <source>无法打开网页 %1：%2（Chromium 错误代码 %3）。</source>
        <translation>cannot open the page %1: %2 (Chromium error code %3)</translation>
    </message>
    <message>
        <source>地址 %1 指向的是一个下载文件，而不是网页，没有可提取的链接；该文件不会被下载。</source>
        <translation>the address %1 is a download, not a page: it has no links to extract, and the file is not downloaded</translation>
    </message>
    <message>
        <source>设置了 REQUEST_METHOD（CGI 环境），HTTP_PROXY 可能来自请求头，已忽略；请改用小写的 http_proxy。</source>
        <translation>REQUEST_METHOD is set (a CGI environment), so HTTP_PROXY may come from a request header and is ignored; use http_proxy in lower case instead</translation>
    </message>
    <message>
        <source>%1 的值不是可用的代理地址（应为 http://主机:端口，或 https://、socks4://、socks5:// 开头），已忽略。</source>
        <translation>%1 is not a usable proxy address (http://host:port, or one starting with https://, socks4:// or socks5://); ignored</translation>
    </message>
    <message>
        <source>%1 中的用户名和密码没有交给 Chromium（它的命令行人人可见）；代理若要求登录，网页将无法通过它打开。</source>
        <translation>the user name and password in %1 are not given to Chromium (anyone can see its command line); if the proxy asks for a login, no page can be opened through it</translation>
    </message>
    <message>
        <source>%1 中的“%2”不是主机名、IP 地址或网段，已忽略。</source>
        <translation>%1: &apos;%2&apos; ignored: not a host name, IP address or network</translation>
    </message>
    <message>
        <source>”、“</source>
        <comment>between quoted entries</comment>
        <translation>&apos;, &apos;</translation>
    </message>
    <message>
        <source>网页 %1 占用的内存超过了上限（%2 GB），已停止并关闭该网页，以免拖慢整台电脑；未能读取其中的链接。</source>
        <translation>the page %1 took more memory than the limit (%2 GB), so it was stopped and closed before it could slow the whole computer down; its links could not be read</translation>
    </message>
    <message>
        <source>网页 %1 在读取链接之后占用的内存超过了上限（%2 GB），已关闭该网页，以免拖慢整台电脑；已读取的链接不受影响。</source>
        <translation>after its links were read, the page %1 took more memory than the limit (%2 GB), so it was closed before it could slow the whole computer down; the links already read are kept</translation>
    </message>
</context>
</TS>
