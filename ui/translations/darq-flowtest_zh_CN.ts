<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>PortWords</name>
    <message>
        <source>not found</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>occupied by another program</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>permission denied</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>port lost while open, now closed</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>port not open</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>settings refused</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>error</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>serial port</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>: join the group that owns the device (&apos;dialout&apos; on Debian) and log in again</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>a directory</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>not readable</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>empty</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>no process number in it</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>blocked by the lock file %1, which cannot be read (%2): remove it if no program uses the device</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>lock held by this program itself, process %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>lock held by process %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>not a serial device but a directory</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>not a serial device but a regular file</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>not a serial device but a pipe or socket</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>not a serial device</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>no such device</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>owned by group &apos;%1&apos;</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>opened exclusively, without a lock file</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>cannot open: </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>the system console or a virtual terminal, not a serial line</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>cannot switch flow control off: </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>the device was removed: </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>the line was hung up or the device removed</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>the device does not take %1: %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>the rate %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 data bits</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>the parity</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 stop bits</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>the port number can only change while the port is closed</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>there is no port number %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>nothing was sent</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>cannot send: </source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>ReplyWords</name>
    <message>
        <source>illegal function</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>illegal data address</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>illegal data value</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>server device failure</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>acknowledge</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>server device busy</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>memory parity error</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>gateway path unavailable</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>gateway target device failed to respond</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>not a standard exception code</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>it comes from address %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>its function is %1, not 3</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>it announces %1 data bytes, not 12</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>nothing came back: check the wiring, the address, the rate and the instrument&apos;s power</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>only the echo of our own request came back: the RS-485 adapter echoes what it sends, and the instrument did not answer (wiring, address, rate, power)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>the instrument refused the read with Modbus exception %1: it is there, but does not offer these registers this way</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 bytes came back and more were still arriving when the wait ended: raise --timeout</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 bytes came back and more were still arriving when the wait ended: the instrument answers too slowly for the window&apos;s wait</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>the echo of our own request came back, then %1 bytes, not 17: wrong rate or stop bits, noise, or two devices answering</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 bytes came back, not 17: wrong rate or stop bits, noise, or two devices answering</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>the 17-byte reply has a wrong check value: noise on the line or a wrong rate</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>the 17-byte reply is not the answer to this request: %1; another device answered, or two share the address</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>darq::Form1</name>
    <message>
        <source>The baud rate cannot be set.
%1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The read request was not sent.
%1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Port %1 is not open: no read request was sent.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>No instrument address is selected: no read request was sent.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The port cannot be opened.
%1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The port was lost.
%1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1: port not open; open it to search for an instrument.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>darq::InstrumentSearch</name>
    <message>
        <source>Instrument found: address %1 at %2 Bd.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The search was cancelled after %1 of %2 attempts.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The search stopped after %1 of %2 attempts: %3</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Bytes came back at %1 but never a valid reply: another protocol on the line, a wrong parity or stop-bit setting, or the wiring (A and B swapped).</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Only our own request came back at %1, as the adapter echoes it: no instrument answered. Check the wiring, the instrument&apos;s power and its address.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Nothing came back at any rate: check the wiring, the instrument&apos;s power, and that the adapter is set for the line (RS-232 or RS-485).</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1: port not open</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1: the port was closed</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>darq::SearchDialog</name>
    <message>
        <source>Find instrument</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Searching the line for an instrument…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Trying address %1 at %2 Bd (attempt %3 of %4, about %5 s left)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Close</source>
        <translation type="unfinished"></translation>
    </message>
</context>
</TS>
