<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>PortWords</name>
    <message>
        <source>not found</source>
        <translation>未找到</translation>
    </message>
    <message>
        <source>occupied by another program</source>
        <translation>被其他程序占用</translation>
    </message>
    <message>
        <source>permission denied</source>
        <translation>没有访问权限</translation>
    </message>
    <message>
        <source>port lost while open, now closed</source>
        <translation>端口在打开时断开，现已关闭</translation>
    </message>
    <message>
        <source>port not open</source>
        <translation>端口未打开</translation>
    </message>
    <message>
        <source>settings refused</source>
        <translation>设置被拒绝</translation>
    </message>
    <message>
        <source>error</source>
        <translation>错误</translation>
    </message>
    <message>
        <source>serial port</source>
        <translation>串口</translation>
    </message>
    <message>
        <source>: join the group that owns the device (&apos;dialout&apos; on Debian) and log in again</source>
        <translation>：请加入拥有该设备的用户组（Debian 上为 &apos;dialout&apos;）并重新登录</translation>
    </message>
    <message>
        <source>a directory</source>
        <translation>是一个目录</translation>
    </message>
    <message>
        <source>not readable</source>
        <translation>不可读</translation>
    </message>
    <message>
        <source>empty</source>
        <translation>为空</translation>
    </message>
    <message>
        <source>no process number in it</source>
        <translation>其中没有进程号</translation>
    </message>
    <message>
        <source>blocked by the lock file %1, which cannot be read (%2): remove it if no program uses the device</source>
        <translation>被无法读取的锁文件 %1 阻挡（%2）：如果没有程序在使用该设备，请删除它</translation>
    </message>
    <message>
        <source>lock held by this program itself, process %1</source>
        <translation>锁由本程序自身持有，进程 %1</translation>
    </message>
    <message>
        <source>lock held by process %1</source>
        <translation>锁由进程 %1 持有</translation>
    </message>
    <message>
        <source>not a serial device but a directory</source>
        <translation>不是串口设备，而是一个目录</translation>
    </message>
    <message>
        <source>not a serial device but a regular file</source>
        <translation>不是串口设备，而是一个普通文件</translation>
    </message>
    <message>
        <source>not a serial device but a pipe or socket</source>
        <translation>不是串口设备，而是管道或套接字</translation>
    </message>
    <message>
        <source>not a serial device</source>
        <translation>不是串口设备</translation>
    </message>
    <message>
        <source>no such device</source>
        <translation>没有这个设备</translation>
    </message>
    <message>
        <source>owned by group &apos;%1&apos;</source>
        <translation>属于用户组 &apos;%1&apos;</translation>
    </message>
    <message>
        <source>opened exclusively, without a lock file</source>
        <translation>已被独占打开，没有锁文件</translation>
    </message>
    <message>
        <source>cannot open: </source>
        <translation>无法打开：</translation>
    </message>
    <message>
        <source>the system console or a virtual terminal, not a serial line</source>
        <translation>是系统控制台或虚拟终端，不是串行线路</translation>
    </message>
    <message>
        <source>cannot switch flow control off: </source>
        <translation>无法关闭流控制：</translation>
    </message>
    <message>
        <source>the device was removed: </source>
        <translation>设备已被移除：</translation>
    </message>
    <message>
        <source>the line was hung up or the device removed</source>
        <translation>线路已挂断或设备已被移除</translation>
    </message>
    <message>
        <source>the device does not take %1: %2</source>
        <translation>设备不接受%1：%2</translation>
    </message>
    <message>
        <source>the rate %1</source>
        <translation>波特率 %1</translation>
    </message>
    <message>
        <source>%1 data bits</source>
        <translation>%1 位数据位</translation>
    </message>
    <message>
        <source>the parity</source>
        <translation>该校验方式</translation>
    </message>
    <message>
        <source>%1 stop bits</source>
        <translation>%1 位停止位</translation>
    </message>
    <message>
        <source>the port number can only change while the port is closed</source>
        <translation>端口号只能在端口关闭时更改</translation>
    </message>
    <message>
        <source>there is no port number %1</source>
        <translation>没有端口号 %1</translation>
    </message>
    <message>
        <source>nothing was sent</source>
        <translation>没有发送任何数据</translation>
    </message>
    <message>
        <source>cannot send: </source>
        <translation>无法发送：</translation>
    </message>
    <message>
        <source>the pseudo-terminal multiplexer, not a serial line</source>
        <translation>这是伪终端复用设备，不是串行线路</translation>
    </message>
    <message>
        <source>cancelled</source>
        <translation>已取消</translation>
    </message>
    <message>
        <source>the port closed while the reply was awaited</source>
        <translation>等待应答时端口已关闭</translation>
    </message>
    <message>
        <source>no answer within %1 s</source>
        <translation>%1 秒内无应答</translation>
    </message>
    <message>
        <source>not a network device: give it as tcp://HOST:PORT</source>
        <translation>不是网络设备：请写成 tcp://主机:端口</translation>
    </message>
    <message>
        <source>the server closed the connection</source>
        <translation>服务器关闭了连接</translation>
    </message>
    <message>
        <source>cannot connect: </source>
        <translation>无法连接：</translation>
    </message>
    <message>
        <source>no RS-485 mode in its driver (a USB adapter that switches its transmitter by itself, or a pseudo-terminal): such adapters need no --rs485</source>
        <translation>驱动程序没有 RS-485 模式（自行切换发送器的 USB 适配器，或伪终端）：这类适配器无需 --rs485</translation>
    </message>
    <message>
        <source>cannot switch to RS-485 mode: %1</source>
        <translation>无法切换到 RS-485 模式：%1</translation>
    </message>
</context>
<context>
    <name>ReplyWords</name>
    <message>
        <source>illegal function</source>
        <translation>非法功能码</translation>
    </message>
    <message>
        <source>illegal data address</source>
        <translation>非法数据地址</translation>
    </message>
    <message>
        <source>illegal data value</source>
        <translation>非法数据值</translation>
    </message>
    <message>
        <source>server device failure</source>
        <translation>从站设备故障</translation>
    </message>
    <message>
        <source>acknowledge</source>
        <translation>已确认</translation>
    </message>
    <message>
        <source>server device busy</source>
        <translation>从站设备忙</translation>
    </message>
    <message>
        <source>memory parity error</source>
        <translation>存储奇偶校验错误</translation>
    </message>
    <message>
        <source>gateway path unavailable</source>
        <translation>网关路径不可用</translation>
    </message>
    <message>
        <source>gateway target device failed to respond</source>
        <translation>网关目标设备未响应</translation>
    </message>
    <message>
        <source>not a standard exception code</source>
        <translation>非标准异常码</translation>
    </message>
    <message>
        <source>it comes from address %1</source>
        <translation>它来自地址 %1</translation>
    </message>
    <message>
        <source>its function is %1, not 3</source>
        <translation>其功能码为 %1，而不是 3</translation>
    </message>
    <message>
        <source>it announces %1 data bytes, not 12</source>
        <translation>其声明的数据字节数为 %1，而不是 12</translation>
    </message>
    <message>
        <source>nothing came back: check the wiring, the address, the rate and the instrument&apos;s power</source>
        <translation>没有收到任何回应：请检查接线、地址、波特率和仪表电源</translation>
    </message>
    <message>
        <source>only the echo of our own request came back: the RS-485 adapter echoes what it sends, and the instrument did not answer (wiring, address, rate, power)</source>
        <translation>只收到了本机请求的回显：RS-485 转换器会回显其发送的数据，而仪表没有应答（请检查接线、地址、波特率、电源）</translation>
    </message>
    <message>
        <source>the instrument refused the read with Modbus exception %1: it is there, but does not offer these registers this way</source>
        <translation>仪表以 Modbus 异常 %1 拒绝了读取：仪表在线，但不以这种方式提供这些寄存器</translation>
    </message>
    <message>
        <source>%1 bytes came back and more were still arriving when the wait ended: raise --timeout</source>
        <translation>收到 %1 个字节，等待结束时仍有数据在到达：请加大 --timeout</translation>
    </message>
    <message>
        <source>%1 bytes came back and more were still arriving when the wait ended: the instrument answers too slowly for the window&apos;s wait</source>
        <translation>收到 %1 个字节，等待结束时仍有数据在到达：仪表应答太慢，超过了本窗口的等待时间</translation>
    </message>
    <message>
        <source>the echo of our own request came back, then %1 bytes, not 17: wrong rate or stop bits, noise, or two devices answering</source>
        <translation>先收到本机请求的回显，随后是 %1 个字节而不是 17 个：可能是波特率或停止位不对、线路干扰，或有两台设备同时应答</translation>
    </message>
    <message>
        <source>%1 bytes came back, not 17: wrong rate or stop bits, noise, or two devices answering</source>
        <translation>收到 %1 个字节而不是 17 个：可能是波特率或停止位不对、线路干扰，或有两台设备同时应答</translation>
    </message>
    <message>
        <source>the 17-byte reply has a wrong check value: noise on the line or a wrong rate</source>
        <translation>17 字节的应答校验值错误：线路干扰或波特率不对</translation>
    </message>
    <message>
        <source>the 17-byte reply is not the answer to this request: %1; another device answered, or two share the address</source>
        <translation>17 字节的应答不是对本次请求的回答：%1；可能是另一台设备应答，或两台设备使用同一地址</translation>
    </message>
    <message>
        <source>%1, %2</source>
        <translation>%1，%2</translation>
    </message>
    <message>
        <source>%1 byte came back and more were still arriving when the wait ended: raise --timeout</source>
        <translation>收到 %1 个字节，等待结束时仍有数据在到达：请加大 --timeout</translation>
    </message>
    <message>
        <source>%1 byte came back and more were still arriving when the wait ended: the instrument answers too slowly for the window&apos;s wait</source>
        <translation>收到 %1 个字节，等待结束时仍有数据在到达：仪表应答太慢，超过了本窗口的等待时间</translation>
    </message>
    <message>
        <source>the echo of our own request came back, then %1 byte, not 17: wrong rate or stop bits, noise, or two devices answering</source>
        <translation>先收到本机请求的回显，随后是 %1 个字节而不是 17 个：可能是波特率或停止位不对、线路干扰，或有两台设备同时应答</translation>
    </message>
    <message>
        <source>%1 byte came back, not 17: wrong rate or stop bits, noise, or two devices answering</source>
        <translation>收到 %1 个字节而不是 17 个：可能是波特率或停止位不对、线路干扰，或有两台设备同时应答</translation>
    </message>
    <message>
        <source>the total went back from %1 to %2: the instrument was reset, or another instrument answered</source>
        <translation>累计流量从 %1 回退到 %2：仪表被复位，或另一台仪表应答了</translation>
    </message>
</context>
<context>
    <name>darq::ComPortTooltip</name>
    <message>
        <source>set by DARQ_COM%1</source>
        <translation>由 DARQ_COM%1 指定</translation>
    </message>
    <message>
        <source>assigned in this window</source>
        <translation>在本窗口中指定</translation>
    </message>
    <message>
        <source>the first plugged USB adapter</source>
        <translation>第一个插入的 USB 转换器</translation>
    </message>
    <message>
        <source>the second plugged USB adapter</source>
        <translation>第二个插入的 USB 转换器</translation>
    </message>
    <message>
        <source>built-in serial port</source>
        <translation>内置串口</translation>
    </message>
    <message>
        <source>not present now</source>
        <translation>当前不存在</translation>
    </message>
</context>
<context>
    <name>darq::ControlHelp</name>
    <message>
        <source>Flow display</source>
        <translation>流量显示</translation>
    </message>
    <message>
        <source>The instrument&apos;s readings: the instantaneous and the accumulated flow</source>
        <translation>仪表的读数：瞬时流量和累计流量</translation>
    </message>
    <message>
        <source>Instantaneous flow</source>
        <translation>瞬时流量</translation>
    </message>
    <message>
        <source>Instantaneous flow, as last read from the instrument; nothing read yet</source>
        <translation>瞬时流量，为最近一次从仪表读取的值；尚未读取</translation>
    </message>
    <message>
        <source>Accumulated flow</source>
        <translation>累计流量</translation>
    </message>
    <message>
        <source>Accumulated flow, as last read from the instrument; nothing read yet</source>
        <translation>累计流量，为最近一次从仪表读取的值；尚未读取</translation>
    </message>
    <message>
        <source>Read</source>
        <translation>读取</translation>
    </message>
    <message>
        <source>Read the flow and the total from the instrument once</source>
        <translation>从仪表读取一次瞬时流量和累计流量</translation>
    </message>
    <message>
        <source>Automatic reading</source>
        <translation>自动读取</translation>
    </message>
    <message>
        <source>Read the instrument every two seconds; the read button is off meanwhile</source>
        <translation>每两秒读取一次仪表；其间读取按钮不可用</translation>
    </message>
    <message>
        <source>Serial port settings</source>
        <translation>串口选择</translation>
    </message>
    <message>
        <source>The serial port, its baud rate and the instrument&apos;s address</source>
        <translation>串口、通讯波特率和仪表地址</translation>
    </message>
    <message>
        <source>Serial port</source>
        <translation>端口选择</translation>
    </message>
    <message>
        <source>The serial port the window talks on</source>
        <translation>本窗口通讯所用的串口</translation>
    </message>
    <message>
        <source>Use the serial port COM%1</source>
        <translation>使用串口 COM%1</translation>
    </message>
    <message>
        <source>Open or close the selected serial port</source>
        <translation>打开或关闭所选的串口</translation>
    </message>
    <message>
        <source>Baud rate</source>
        <translation>通讯波特率</translation>
    </message>
    <message>
        <source>Baud rate of the serial line (no parity, 8 data bits, 2 stop bits)</source>
        <translation>串行线路的通讯波特率（无校验，8 位数据位，2 位停止位）</translation>
    </message>
    <message>
        <source>Instrument address</source>
        <translation>仪表地址</translation>
    </message>
    <message>
        <source>Bus address of the instrument, 0 to 128</source>
        <translation>仪表的总线地址，0 到 128</translation>
    </message>
</context>
<context>
    <name>darq::FileSaving</name>
    <message>
        <source>%1 already exists. Replace it?</source>
        <translation>%1 已存在。要替换它吗？</translation>
    </message>
</context>
<context>
    <name>darq::Form1</name>
    <message>
        <source>The baud rate cannot be set.
%1</source>
        <translation>无法设置通讯波特率。
%1</translation>
    </message>
    <message>
        <source>The read request was not sent.
%1</source>
        <translation>读取请求没有发出。
%1</translation>
    </message>
    <message>
        <source>Port %1 is not open: no read request was sent.</source>
        <translation>端口 %1 未打开，没有发送读取请求。</translation>
    </message>
    <message>
        <source>No instrument address is selected: no read request was sent.</source>
        <translation>没有选择仪表地址，没有发送读取请求。</translation>
    </message>
    <message>
        <source>The port cannot be opened.
%1</source>
        <translation>无法打开端口。
%1</translation>
    </message>
    <message>
        <source>The port was lost.
%1</source>
        <translation>端口已断开。
%1</translation>
    </message>
    <message>
        <source>%1: port not open; open it to search for an instrument.</source>
        <translation>%1：端口未打开；请先打开端口再搜索仪表。</translation>
    </message>
    <message>
        <source>port not open</source>
        <translation>端口未打开</translation>
    </message>
    <message>
        <source>no instrument address selected</source>
        <translation>没有选择仪表地址</translation>
    </message>
    <message>
        <source>No reply at %1</source>
        <translation>%1 无应答</translation>
    </message>
    <message>
        <source>Reading of %1</source>
        <translation>%1 的读数</translation>
    </message>
    <message>
        <source>The check value of this reply was wrong: the value may be corrupted.</source>
        <translation>该应答的校验值错误：数值可能已损坏。</translation>
    </message>
    <message>
        <source>Close port</source>
        <translation>关闭端口</translation>
    </message>
    <message>
        <source>Open port</source>
        <translation>打开端口</translation>
    </message>
</context>
<context>
    <name>darq::InstrumentSearch</name>
    <message>
        <source>Instrument found: address %1 at %2 Bd.</source>
        <translation>找到仪表：地址 %1，波特率 %2。</translation>
    </message>
    <message>
        <source>The search was cancelled after %1 of %2 attempts.</source>
        <translation>搜索在共 %2 次尝试中的第 %1 次后被取消。</translation>
    </message>
    <message>
        <source>The search stopped after %1 of %2 attempts: %3</source>
        <translation>搜索在共 %2 次尝试中的第 %1 次后停止：%3</translation>
    </message>
    <message>
        <source>Bytes came back at %1 but never a valid reply: another protocol on the line, a wrong parity or stop-bit setting, or the wiring (A and B swapped).</source>
        <translation>在 %1 收到了数据，但始终没有有效应答：线路上可能是其他协议、校验位或停止位设置不对，或接线错误（A、B 接反）。</translation>
    </message>
    <message>
        <source>Only our own request came back at %1, as the adapter echoes it: no instrument answered. Check the wiring, the instrument&apos;s power and its address.</source>
        <translation>在 %1 只收到了转换器回显的本机请求：没有仪表应答。请检查接线、仪表电源和仪表地址。</translation>
    </message>
    <message>
        <source>Nothing came back at any rate: check the wiring, the instrument&apos;s power, and that the adapter is set for the line (RS-232 or RS-485).</source>
        <translation>在所有波特率下都没有收到任何数据：请检查接线、仪表电源，以及转换器是否设置为线路所用的 RS-232 或 RS-485。</translation>
    </message>
    <message>
        <source>the port is not open</source>
        <translation>端口未打开</translation>
    </message>
</context>
<context>
    <name>darq::SearchDialog</name>
    <message>
        <source>Find instrument</source>
        <translation>搜索仪表</translation>
    </message>
    <message>
        <source>Searching the line for an instrument…</source>
        <translation>正在线路上搜索仪表…</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>取消</translation>
    </message>
    <message>
        <source>Trying address %1 at %2 Bd (attempt %3 of %4, about %5 s left)</source>
        <translation>正在尝试地址 %1，波特率 %2（第 %3 次，共 %4 次，约剩 %5 秒）</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>关闭</translation>
    </message>
</context>
<context>
    <name>darq::TrafficLogModel</name>
    <message>
        <source>flow %1, total %2</source>
        <translation>瞬时流量 %1，累计流量 %2</translation>
    </message>
    <message>
        <source>%1 at %2 Bd</source>
        <translation>%1，%2 波特</translation>
    </message>
    <message>
        <source>none</source>
        <translation>无</translation>
    </message>
    <message>
        <source>nothing sent</source>
        <translation>未发送</translation>
    </message>
    <message>
        <source>decoded</source>
        <translation>已解码</translation>
    </message>
    <message>
        <source>no data</source>
        <translation>无数据</translation>
    </message>
    <message>
        <source>not sent</source>
        <translation>未发送</translation>
    </message>
    <message>
        <source>interrupted</source>
        <translation>已中断</translation>
    </message>
    <message>
        <source>right</source>
        <translation>正确</translation>
    </message>
    <message>
        <source>wrong</source>
        <translation>错误</translation>
    </message>
    <message>
        <source>yes</source>
        <translation>是</translation>
    </message>
    <message>
        <source>no</source>
        <translation>否</translation>
    </message>
    <message>
        <source>Time</source>
        <translation>时间</translation>
    </message>
    <message>
        <source>Device and rate</source>
        <translation>设备与波特率</translation>
    </message>
    <message>
        <source>Address</source>
        <translation>地址</translation>
    </message>
    <message>
        <source>Sent</source>
        <translation>发送</translation>
    </message>
    <message>
        <source>Received</source>
        <translation>接收</translation>
    </message>
    <message>
        <source>Outcome</source>
        <translation>结果</translation>
    </message>
    <message>
        <source>Check value</source>
        <translation>校验值</translation>
    </message>
    <message>
        <source>Echo removed</source>
        <translation>已去除回显</translation>
    </message>
    <message>
        <source>Explanation</source>
        <translation>说明</translation>
    </message>
    <message>
        <source>From the end of the send to the reply&apos;s last byte</source>
        <translation>从请求发送完毕到收到应答的最后一个字节</translation>
    </message>
    <message>
        <source>Latency (ms)</source>
        <translation>延迟（毫秒）</translation>
    </message>
    <message>
        <source>ignored: 1 byte</source>
        <translation>已忽略：1 个字节</translation>
    </message>
    <message>
        <source>ignored: %1 bytes</source>
        <translation>已忽略：%1 个字节</translation>
    </message>
</context>
<context>
    <name>darq::TrafficLogWindow</name>
    <message>
        <source>Clear</source>
        <translation>清除</translation>
    </message>
    <message>
        <source>Save…</source>
        <translation>保存…</translation>
    </message>
    <message>
        <source>Traffic log</source>
        <translation>通讯记录</translation>
    </message>
    <message>
        <source>Reads %1 · decoded %2 (%3) · no data %4 · ignored %5 · wrong check value %6 · interrupted %7 · not sent %8</source>
        <translation>读取 %1 · 已解码 %2（%3）· 无数据 %4 · 已忽略 %5 · 校验值错误 %6 · 已中断 %7 · 未发送 %8</translation>
    </message>
    <message>
        <source>Save traffic log</source>
        <translation>保存通讯记录</translation>
    </message>
    <message>
        <source>CSV files (*.csv)</source>
        <translation>CSV 文件 (*.csv)</translation>
    </message>
    <message>
        <source>The traffic log was not saved to %1: %2</source>
        <translation>通讯记录未能保存到 %1：%2</translation>
    </message>
    <message numerus="yes">
        <source>%n row(s) saved to %1</source>
        <translation>
            <numerusform>已将 %n 行保存到 %1</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>darq::TrendWindow</name>
    <message>
        <source>Follow newest (End)</source>
        <translation>跟随最新读数 (End)</translation>
    </message>
    <message>
        <source>Trend</source>
        <translation>趋势</translation>
    </message>
    <message>
        <source>Keep the newest reading in view. The mouse wheel zooms, a drag pans, End follows again and Home shows the whole log.</source>
        <translation>使最新读数保持在视图中。鼠标滚轮缩放，拖动平移，End 重新跟随，Home 显示全部记录。</translation>
    </message>
    <message>
        <source>Save…</source>
        <translation>保存…</translation>
    </message>
    <message>
        <source>Time</source>
        <translation>时间</translation>
    </message>
    <message>
        <source>Flow</source>
        <translation>瞬时流量</translation>
    </message>
    <message>
        <source>Total</source>
        <translation>累计流量</translation>
    </message>
    <message>
        <source>No data</source>
        <translation>无数据</translation>
    </message>
    <message>
        <source>Wrong check value or reply</source>
        <translation>校验值或应答错误</translation>
    </message>
    <message>
        <source>Interrupted</source>
        <translation>已中断</translation>
    </message>
    <message>
        <source>Total went back</source>
        <translation>累计流量回退</translation>
    </message>
    <message>
        <source>Flow, address %1</source>
        <translation>瞬时流量，地址 %1</translation>
    </message>
    <message>
        <source>Total, address %1</source>
        <translation>累计流量，地址 %1</translation>
    </message>
    <message>
        <source>Save trend</source>
        <translation>保存趋势图</translation>
    </message>
    <message>
        <source>PNG image (*.png)</source>
        <translation>PNG 图像 (*.png)</translation>
    </message>
    <message>
        <source>SVG drawing (*.svg)</source>
        <translation>SVG 矢量图 (*.svg)</translation>
    </message>
    <message>
        <source>The trend was not saved to %1: %2</source>
        <translation>趋势图未能保存到 %1：%2</translation>
    </message>
    <message>
        <source>Saved to %1</source>
        <translation>已保存到 %1</translation>
    </message>
</context>
<context>
    <name>darq::WindowMenu</name>
    <message>
        <source>COM%1 device</source>
        <translation>COM%1 设备</translation>
    </message>
    <message>
        <source>DARQ_COM%1 is set and comes first</source>
        <translation>已设置 DARQ_COM%1，优先使用</translation>
    </message>
    <message>
        <source>No serial devices found</source>
        <translation>没有找到串口设备</translation>
    </message>
    <message>
        <source>Other device…</source>
        <translation>其他设备…</translation>
    </message>
    <message>
        <source>The device for COM%1 cannot be remembered: %2 cannot be written.</source>
        <translation>无法记住 COM%1 的设备：无法写入 %2。</translation>
    </message>
    <message>
        <source>Find instrument…</source>
        <translation>搜索仪表…</translation>
    </message>
    <message>
        <source>Traffic log</source>
        <translation>通讯记录</translation>
    </message>
    <message>
        <source>About darq-flowtest</source>
        <translation>关于 darq-flowtest</translation>
    </message>
    <message>
        <source>&amp;Device</source>
        <translation>设备(&amp;D)</translation>
    </message>
    <message>
        <source>&amp;View</source>
        <translation>查看(&amp;V)</translation>
    </message>
    <message>
        <source>&amp;Help</source>
        <translation>帮助(&amp;H)</translation>
    </message>
    <message>
        <source>darq-flowtest %1

Checks the serial link to a DARQ flow totalizer.
Licensed under the MIT licence.

The devices assigned to COM1 and COM2 are kept in %2. Nothing else is kept between runs.</source>
        <translation>darq-flowtest %1

检查与 DARQ 流量积算仪之间的串行通讯。
按 MIT 许可证授权。

为 COM1 和 COM2 指定的设备保存在 %2 中。除此之外，两次运行之间不保存任何内容。</translation>
    </message>
    <message>
        <source>Device path for COM%1, or tcp://HOST:PORT for a serial device server (left empty, COM%1 is found automatically again):</source>
        <translation>COM%1 的设备路径，串口服务器则写 tcp://主机:端口（留空则重新自动查找 COM%1）：</translation>
    </message>
    <message>
        <source>Trend</source>
        <translation>趋势</translation>
    </message>
</context>
</TS>
