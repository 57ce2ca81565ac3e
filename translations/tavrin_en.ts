<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="zh_CN">
<context>
    <name>ConnectionPage</name>
    <message>
        <source>Tavrin 标志</source>
        <translation>Tavrin logo</translation>
    </message>
    <message>
        <source>Tavrin</source>
        <translation>Tavrin</translation>
    </message>
    <message>
        <source>V:%1</source>
        <extracomment>%1 is the version number, e.g. 1.0.6.</extracomment>
        <translation>Version %1</translation>
    </message>
    <message>
        <source>Copyright © 2026 Tavrin. All rights reserved.</source>
        <translation>Copyright © 2026 Tavrin. All rights reserved.</translation>
    </message>
    <message>
        <source>长按便签的扫码按钮获取IP地址</source>
        <translation>Long-press Scan to get the IP</translation>
    </message>
    <message>
        <source>手机的IP地址</source>
        <translation>Phone&apos;s IP address</translation>
    </message>
    <message>
        <source>快捷键说明</source>
        <translation>Keyboard shortcuts</translation>
    </message>
    <message>
        <source>显示全部键盘快捷键</source>
        <translation>Show all keyboard shortcuts</translation>
    </message>
    <message>
        <source>检查更新</source>
        <translation>Check for updates</translation>
    </message>
    <message>
        <source>在官网上查找新版本</source>
        <translation>Look for a newer version on the maker&apos;s website</translation>
    </message>
    <message>
        <source>长按便签APP的扫码按钮即可看到手机的IP地址，然后在这里输入</source>
        <translation>Press and hold the note app&apos;s scan button to get the phone&apos;s IP address, then type it here</translation>
    </message>
</context>
<context>
    <name>EditorPage</name>
    <message>
        <source>便签</source>
        <translation>Note</translation>
    </message>
    <message>
        <source>手机上打开的便签，所做的修改会立即发送到手机</source>
        <translation>The note open on the phone; every change goes to the phone at once</translation>
    </message>
    <message>
        <source>手机上的便签也改了同一处：现在显示手机的文本。本机的文本可以恢复（或按 Ctrl+Shift+Z）。</source>
        <translation>The note was changed at the same place on the phone too: the phone&apos;s text shows now. Yours can be brought back (or press Ctrl+Shift+Z).</translation>
    </message>
    <message>
        <source>恢复本机文本</source>
        <translation>Restore my text</translation>
    </message>
    <message>
        <source>保留手机文本</source>
        <translation>Keep the phone&apos;s text</translation>
    </message>
</context>
<context>
    <name>Link</name>
    <message>
        <source>正在连接手机…</source>
        <translation>Connecting to the phone…</translation>
    </message>
    <message>
        <source>连接不上手机：请确认手机和电脑在同一网络，并已启动便签的服务</source>
        <translation>Cannot reach the phone: make sure that it is on the same network as this computer and that the note app&apos;s service is running</translation>
    </message>
    <message>
        <source>手机上没有打开纯文本便签</source>
        <translation>No plain-text note is open on the phone</translation>
    </message>
    <message>
        <source>这篇便签含有无法原样发回手机的字符，不能在这里编辑</source>
        <translation>This note holds characters that cannot be sent back to the phone unchanged, so it cannot be edited here</translation>
    </message>
    <message>
        <source>手机发来的便签无法使用</source>
        <translation>The note from the phone cannot be used</translation>
    </message>
    <message>
        <source>已同步 %1</source>
        <translation>Synced at %1</translation>
    </message>
    <message>
        <source>已同步</source>
        <translation>Synced</translation>
    </message>
    <message>
        <source>正在发送…</source>
        <translation>Sending…</translation>
    </message>
    <message numerus="yes">
        <source>离线：%n 处修改未发送，自 %1 起</source>
        <translation>
            <numerusform>Offline since %1: %n change not sent</numerusform>
            <numerusform>Offline since %1: %n changes not sent</numerusform>
        </translation>
    </message>
    <message>
        <source>手机拒绝了修改（HTTP %1），稍后重试</source>
        <translation>The phone refused the change (HTTP %1); trying again later</translation>
    </message>
    <message>
        <source>已保存 %1</source>
        <translation>Saved at %1</translation>
    </message>
    <message>
        <source>保存失败，连接恢复后重试</source>
        <translation>Saving failed; trying again once the phone is back</translation>
    </message>
    <message>
        <source>正在载入便签…</source>
        <translation>Loading the note…</translation>
    </message>
    <message>
        <source>手机发来的便签用了无法识别的字符编码</source>
        <translation>The phone sent the note in a character encoding Tavrin does not know</translation>
    </message>
    <message>
        <source>这篇便签太长，超过了 %1 字的上限，不能在这里编辑</source>
        <translation>This note is longer than the limit of %1 characters and cannot be edited here</translation>
    </message>
</context>
<context>
    <name>UpdateDialog</name>
    <message>
        <source>发现新版</source>
        <translation>New version available</translation>
    </message>
    <message>
        <source>现在去官网下载新版吗？</source>
        <translation>Go to the website and download it now?</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>不下载新版，关闭对话框</source>
        <translation>Close without downloading the new version</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>在浏览器中打开官网的下载页面</source>
        <translation>Open the download page in the browser</translation>
    </message>
</context>
<context>
    <name>main</name>
    <message>
        <source>Tavrin</source>
        <translation>Tavrin</translation>
    </message>
    <message>
        <source>Tavrin ( %1 字)</source>
        <extracomment>The window title while a note is open: %1 is the note&apos;s character count on the phone.</extracomment>
        <translation>Tavrin (%1 characters)</translation>
    </message>
    <message>
        <source>设置字体大小%1</source>
        <extracomment>%1 is the font size in pixels.</extracomment>
        <translation>Font size: %1</translation>
    </message>
    <message>
        <source>设置内边距：%1</source>
        <extracomment>%1 is the inner margin in pixels.</extracomment>
        <translation>Inner margin: %1</translation>
    </message>
    <message>
        <source>设置文字颜色</source>
        <translation>Text color</translation>
    </message>
    <message>
        <source>设置背景颜色</source>
        <translation>Background color</translation>
    </message>
    <message>
        <source>设置字体:%1</source>
        <extracomment>%1 is the name of the editor&apos;s font.</extracomment>
        <translation>Font: %1</translation>
    </message>
    <message>
        <source>快捷键说明</source>
        <translation>Keyboard shortcuts</translation>
    </message>
</context>
<context>
    <name>tavrin::CommandLine</name>
    <message>
        <source>用电脑的键盘和屏幕编辑手机上打开的便签。</source>
        <translation>Write the note that is open on your phone with your computer&apos;s keyboard and screen.</translation>
    </message>
    <message>
        <source>启动时连接这个地址的手机，如同在地址栏输入了它。</source>
        <translation>Connect to the phone at this address at start, as if it had been typed into the address field.</translation>
    </message>
    <message>
        <source>地址</source>
        <translation>address</translation>
    </message>
    <message>
        <source>用 --help 查看可用的选项。</source>
        <translation>Run with --help to see the options.</translation>
    </message>
    <message>
        <source>多余的参数：%1</source>
        <translation>Unexpected arguments: %1</translation>
    </message>
    <message>
        <source>不是有效的地址：%1</source>
        <translation>Not a valid address: %1</translation>
    </message>
    <message>
        <source>显示本帮助。</source>
        <translation>Show this help.</translation>
    </message>
    <message>
        <source>显示版本号。</source>
        <translation>Show the version.</translation>
    </message>
</context>
<context>
    <name>tavrin::Shortcuts</name>
    <message>
        <source>保存</source>
        <translation>Save</translation>
    </message>
    <message>
        <source>字体大小</source>
        <translation>Font size</translation>
    </message>
    <message>
        <source>文字颜色</source>
        <translation>Text color</translation>
    </message>
    <message>
        <source>背景颜色</source>
        <translation>Background color</translation>
    </message>
    <message>
        <source>内边距</source>
        <translation>Inner margin</translation>
    </message>
    <message>
        <source>撤回</source>
        <translation>Undo</translation>
    </message>
    <message>
        <source>聚焦到文首</source>
        <translation>Go to the beginning</translation>
    </message>
    <message>
        <source>聚焦到文末</source>
        <translation>Go to the end</translation>
    </message>
    <message>
        <source>修改字体</source>
        <translation>Font</translation>
    </message>
    <message>
        <source>段首缩进+插入空行</source>
        <translation>Reformat the text</translation>
    </message>
    <message>
        <source>移除空行</source>
        <translation>Delete blank lines</translation>
    </message>
    <message>
        <source>移除段首缩进</source>
        <translation>Remove indentation</translation>
    </message>
    <message>
        <source>反撤回</source>
        <translation>Redo</translation>
    </message>
    <message>
        <source>%1:%2</source>
        <extracomment>One line of the shortcut help: %1 the keys, %2 what they do.</extracomment>
        <translation>%1: %2</translation>
    </message>
</context>
<context>
    <name>tavrin::UpdateChecker</name>
    <message>
        <source>检查更新</source>
        <translation>Check for updates</translation>
    </message>
    <message>
        <source>网络异常，请检查网络是否畅通～</source>
        <translation>Network error. Please check your connection.</translation>
    </message>
</context>
<context>
    <name>tavrin::link</name>
    <message>
        <source>请长按便签APP的扫码按钮启动服务</source>
        <translation>Press and hold the scan button in the note app to start its service</translation>
    </message>
    <message>
        <source>请打开一篇纯文本便签</source>
        <translation>Please open a plain-text note</translation>
    </message>
</context>
</TS>
