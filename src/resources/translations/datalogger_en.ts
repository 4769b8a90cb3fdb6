<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="zh_CN">
<context>
    <name>CustomDialog</name>
    <message>
        <source>X</source>
        <translation>X</translation>
    </message>
    <message>
        <source>关闭对话框</source>
        <translation>Close the dialog</translation>
    </message>
</context>
<context>
    <name>CustomMessageDialog</name>
    <message>
        <source>X</source>
        <translation>X</translation>
    </message>
    <message>
        <source>警告</source>
        <translation>Warning</translation>
    </message>
    <message>
        <source>错误</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>信息</source>
        <translation>Information</translation>
    </message>
    <message>
        <source>关闭消息</source>
        <translation>Close the message</translation>
    </message>
    <message>
        <source>%1：%2</source>
        <translation>%1: %2</translation>
    </message>
</context>
<context>
    <name>ExportDialog</name>
    <message>
        <source>将数据导出到CSV</source>
        <translation>Export data to CSV</translation>
    </message>
    <message>
        <source>列分隔符:</source>
        <translation>Column separator:</translation>
    </message>
    <message>
        <source>逗号(,)</source>
        <translation>Comma (,)</translation>
    </message>
    <message>
        <source>分号(;)</source>
        <translation>Semicolon (;)</translation>
    </message>
    <message>
        <source>制表符(\t)</source>
        <translation>Tab (\t)</translation>
    </message>
    <message>
        <source>详情</source>
        <translation>Details</translation>
    </message>
    <message>
        <source>导出文件详细信息:</source>
        <translation>Export file details:</translation>
    </message>
    <message>
        <source>文件名:</source>
        <translation>File name:</translation>
    </message>
    <message>
        <source>导出路径:</source>
        <translation>Export folder:</translation>
    </message>
    <message>
        <source>  浏览...  </source>
        <translation>  Browse...  </translation>
    </message>
    <message>
        <source>  导出到文件  </source>
        <translation>  Export to file  </translation>
    </message>
    <message>
        <source>  关闭  </source>
        <translation>  Close  </translation>
    </message>
    <message>
        <source>  取消导出  </source>
        <translation>  Cancel export  </translation>
    </message>
    <message>
        <source>列分隔符</source>
        <translation>Column separator</translation>
    </message>
    <message>
        <source>文件名</source>
        <translation>File name</translation>
    </message>
    <message>
        <source>导出路径</source>
        <translation>Export folder</translation>
    </message>
    <message>
        <source>浏览导出文件夹</source>
        <translation>Browse for the export folder</translation>
    </message>
    <message>
        <source>选择CSV文件所在的文件夹</source>
        <translation>Choose the folder the CSV files go to</translation>
    </message>
    <message>
        <source>导出到文件</source>
        <translation>Export to file</translation>
    </message>
    <message>
        <source>将记录的数据写入CSV文件</source>
        <translation>Write the recorded data to CSV files</translation>
    </message>
    <message>
        <source>关闭</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>取消导出</source>
        <translation>Cancel export</translation>
    </message>
    <message>
        <source>停止导出并删除已写的文件</source>
        <translation>Stop the export and delete the file written so far</translation>
    </message>
    <message>
        <source>导出进度</source>
        <translation>Export progress</translation>
    </message>
    <message>
        <source>已写 %1 行</source>
        <translation>%1 rows written</translation>
    </message>
    <message>
        <source>已写 %1 / %2 行（%3%）</source>
        <translation>%1 / %2 rows written (%3%)</translation>
    </message>
    <message>
        <source>正在统计数据行数...</source>
        <translation>Counting the rows...</translation>
    </message>
    <message>
        <source>正在取消导出...</source>
        <translation>Cancelling the export...</translation>
    </message>
</context>
<context>
    <name>LivePublisher</name>
    <message>
        <source>MQTT 代理无法连接：%1（%2 秒内没有应答）</source>
        <translation>Cannot connect to the MQTT broker %1 (no answer within %2 s)</translation>
    </message>
    <message>
        <source>连接被对方关闭</source>
        <translation>the connection was closed by the other side</translation>
    </message>
    <message>
        <source>MQTT 代理无法连接：%1（%2）</source>
        <translation>Cannot connect to the MQTT broker %1 (%2)</translation>
    </message>
    <message>
        <source>MQTT TLS 连接失败：%1（%2）</source>
        <translation>The MQTT TLS connection failed: %1 (%2)</translation>
    </message>
    <message>
        <source>MQTT 登录被拒绝：%1（%2）</source>
        <translation>The MQTT broker refused the login: %1 (%2)</translation>
    </message>
</context>
<context>
    <name>LoadingView</name>
    <message>
        <source>应用程序将在恢复通信时与仪器同步。</source>
        <translation>The application will synchronise with the instrument when communication resumes.</translation>
    </message>
    <message>
        <source>恢复</source>
        <translation>Resume</translation>
    </message>
    <message>
        <source>正在加载，请稍等...</source>
        <translation>Loading, please wait...</translation>
    </message>
    <message>
        <source>恢复通信</source>
        <translation>Resume communication</translation>
    </message>
</context>
<context>
    <name>LoggingController</name>
    <message>
        <source>未查找到设备，请检查设备连接情况</source>
        <translation>No instrument found. Please check the instrument&apos;s connection.</translation>
    </message>
    <message>
        <source>上一次扫描未停止</source>
        <translation>The previous scan has not stopped yet</translation>
    </message>
    <message>
        <source>设备未连接，请检查设备连接情况</source>
        <translation>The instrument is not connected. Please check its connection.</translation>
    </message>
    <message>
        <source>扫描通道未选择</source>
        <translation>No channel is selected for scanning</translation>
    </message>
    <message>
        <source>正在导出数据，请在导出结束后再开始记录</source>
        <translation>An export is running. Please start logging after it has finished.</translation>
    </message>
    <message>
        <source>扫描开启中请稍等...</source>
        <translation>Starting the scan, please wait...</translation>
    </message>
    <message>
        <source>无法创建数据存储 %1：%2</source>
        <translation>Cannot create the data store %1: %2</translation>
    </message>
    <message>
        <source>数据存储失败 %1：%2，记录已停止</source>
        <translation>Storing the data failed %1: %2. Logging has stopped</translation>
    </message>
    <message>
        <source>开关主机</source>
        <translation>The switch main frame</translation>
    </message>
    <message>
        <source>测量仪器</source>
        <translation>The measuring instrument</translation>
    </message>
    <message>
        <source>数据记录正在运行..</source>
        <translation>Data logging is running..</translation>
    </message>
    <message>
        <source>（%1自 %2 起无响应）</source>
        <translation> (%1 has not answered since %2)</translation>
    </message>
    <message>
        <source>%1自 %2 起无响应，记录已停止</source>
        <translation>%1 has not answered since %2. Logging has stopped</translation>
    </message>
    <message>
        <source>MQTT：已连接</source>
        <translation>MQTT: connected</translation>
    </message>
    <message>
        <source>MQTT：未连接</source>
        <translation>MQTT: not connected</translation>
    </message>
    <message>
        <source>，待发送 %1 条</source>
        <translation>, %1 waiting to be sent</translation>
    </message>
</context>
<context>
    <name>MainWidget</name>
    <message>
        <source>设置</source>
        <translation>Settings</translation>
    </message>
    <message>
        <source>配置通道</source>
        <translation>Channels</translation>
    </message>
    <message>
        <source>图形设置</source>
        <translation>Chart settings</translation>
    </message>
    <message>
        <source>趋势图</source>
        <translation>Trend</translation>
    </message>
    <message>
        <source>开始</source>
        <translation>Start</translation>
    </message>
    <message>
        <source>数据记录正在运行..</source>
        <translation>Data logging is running..</translation>
    </message>
    <message>
        <source>导出</source>
        <translation>Export</translation>
    </message>
    <message>
        <source>当前外接设备未连接,连接外部设备</source>
        <translation>The switch main frame is not connected. Connect it</translation>
    </message>
    <message>
        <source>扫描 </source>
        <translation>Scan </translation>
    </message>
    <message>
        <source>编号</source>
        <translation>Number</translation>
    </message>
    <message>
        <source>没有相关轨迹数据</source>
        <translation>There is no recorded data</translation>
    </message>
    <message>
        <source>导出成功%1</source>
        <translation>Export succeeded: %1</translation>
    </message>
    <message>
        <source>CSV文件无法打开（可能被占用）</source>
        <translation>The CSV file cannot be opened (it may be in use)</translation>
    </message>
    <message>
        <source>没有可以保存的数据</source>
        <translation>There is no data to save</translation>
    </message>
    <message>
        <source>数据库读取失败，请检查数据文件</source>
        <translation>Reading the database failed. Please check the data files</translation>
    </message>
    <message>
        <source>导出已取消</source>
        <translation>Export cancelled</translation>
    </message>
    <message>
        <source>导出失败</source>
        <translation>Export failed</translation>
    </message>
    <message>
        <source>导出异常中断</source>
        <translation>The export was interrupted</translation>
    </message>
    <message>
        <source>查找设备中,请稍等...</source>
        <translation>Searching for instruments, please wait...</translation>
    </message>
    <message>
        <source>停止</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>设置栏</source>
        <translation>Settings strip</translation>
    </message>
    <message>
        <source>打开设置</source>
        <translation>Open settings</translation>
    </message>
    <message>
        <source>展开设置栏：仪器速度、扫描时间间隔和停止条件</source>
        <translation>Opens the settings strip: instrument speed, scan interval and stop condition</translation>
    </message>
    <message>
        <source>收起设置</source>
        <translation>Close settings</translation>
    </message>
    <message>
        <source>读数表</source>
        <translation>Readings table</translation>
    </message>
    <message>
        <source>导出数据</source>
        <translation>Export data</translation>
    </message>
    <message>
        <source>将记录的数据导出到CSV文件</source>
        <translation>Exports the recorded data to CSV files</translation>
    </message>
    <message>
        <source>连接外部设备</source>
        <translation>Connect the switch main frame</translation>
    </message>
    <message>
        <source>查找并连接开关主机，其模块随后列在下方</source>
        <translation>Finds and connects the switch main frame; its modules are then listed below</translation>
    </message>
    <message>
        <source>通道列表</source>
        <translation>Channel list</translation>
    </message>
    <message>
        <source>勾选要扫描的模块和通道</source>
        <translation>Tick the modules and channels to scan</translation>
    </message>
    <message>
        <source>槽位 %1：%2</source>
        <translation>Slot %1: %2</translation>
    </message>
    <message>
        <source>模块 槽位 %1</source>
        <translation>Module in slot %1</translation>
    </message>
    <message>
        <source>通道 %1</source>
        <translation>Channel %1</translation>
    </message>
    <message>
        <source>Select Directory</source>
        <translation>Select Directory</translation>
    </message>
    <message>
        <source>停止记录</source>
        <translation>Stop logging</translation>
    </message>
    <message>
        <source>开始记录</source>
        <translation>Start logging</translation>
    </message>
    <message>
        <source>在当前通道测完后停止记录</source>
        <translation>Stops logging after the channel being measured</translation>
    </message>
    <message>
        <source>按设置开始记录所选通道</source>
        <translation>Starts logging the ticked channels with the settings</translation>
    </message>
    <message>
        <source>记录期间不能更改，停止记录后可以更改</source>
        <translation>Cannot be changed while logging; change it after Stop</translation>
    </message>
    <message>
        <source>正在查找开关主机</source>
        <translation>Searching for the switch main frame</translation>
    </message>
    <message>
        <source>正在查找开关主机，请稍等</source>
        <translation>Searching for the switch main frame, please wait</translation>
    </message>
    <message>
        <source>设备连接成功：%1</source>
        <translation>Instrument connected: %1</translation>
    </message>
    <message>
        <source>开关主机已连接：%1</source>
        <translation>Switch main frame connected: %1</translation>
    </message>
    <message>
        <source>已连接 %1（%2），其模块列在下方</source>
        <translation>Connected to %1 (%2); its modules are listed below</translation>
    </message>
    <message>
        <source>测量仪器 %1 无响应：%2</source>
        <translation>The measuring instrument %1 does not answer: %2</translation>
    </message>
    <message>
        <source>%1 恢复通信失败</source>
        <translation>%1 the instrument still does not answer</translation>
    </message>
    <message>
        <source>记录进度</source>
        <translation>Run progress</translation>
    </message>
    <message>
        <source>开关主机无响应：%1</source>
        <translation>Switch main frame not answering: %1</translation>
    </message>
    <message>
        <source>%1（%2）不应答，恢复应答后继续</source>
        <translation>%1 (%2) does not answer; logging goes on when it answers again</translation>
    </message>
    <message>
        <source>%1 %2 自 %3 起无响应</source>
        <translation>%1 %2 not answering since %3</translation>
    </message>
    <message>
        <source>；</source>
        <translation>; </translation>
    </message>
    <message>
        <source>消息记录 (%1)</source>
        <translation>Messages (%1)</translation>
    </message>
    <message>
        <source>消息记录</source>
        <translation>Messages</translation>
    </message>
    <message>
        <source>消息记录，%1 条未查看的警告或错误</source>
        <translation>Messages, %1 warnings or errors not yet seen</translation>
    </message>
    <message>
        <source>打开本次运行的全部消息及其时间</source>
        <translation>Opens every message of this session with its time</translation>
    </message>
    <message>
        <source>已扫描 %1/%2 次</source>
        <translation>Scans done: %1 of %2</translation>
    </message>
    <message>
        <source>已扫描 %1 次</source>
        <translation>Scans done: %1</translation>
    </message>
    <message>
        <source>已运行 %1</source>
        <translation>running for %1</translation>
    </message>
    <message>
        <source>距下次扫描 %1</source>
        <translation>next scan in %1</translation>
    </message>
    <message>
        <source>，</source>
        <translation>, </translation>
    </message>
</context>
<context>
    <name>MessageHistory</name>
    <message>
        <source>警告</source>
        <translation>Warning</translation>
    </message>
    <message>
        <source>信息</source>
        <translation>Information</translation>
    </message>
    <message>
        <source>错误</source>
        <translation>Error</translation>
    </message>
</context>
<context>
    <name>MessageHistoryDialog</name>
    <message>
        <source>消息记录</source>
        <translation>Messages</translation>
    </message>
    <message>
        <source>全部复制</source>
        <translation>Copy all</translation>
    </message>
    <message>
        <source>将全部消息及其时间复制到剪贴板</source>
        <translation>Copies every message with its time to the clipboard</translation>
    </message>
</context>
<context>
    <name>MqttSettings</name>
    <message>
        <source>MQTT 配置错误：</source>
        <translation>MQTT configuration error: </translation>
    </message>
    <message>
        <source>文件不存在</source>
        <translation>the file does not exist</translation>
    </message>
    <message>
        <source>不是普通文件</source>
        <translation>not a regular file</translation>
    </message>
    <message>
        <source>url &quot;%1&quot; 无法解析（应为 mqtt://主机:端口 或 mqtts://主机:端口）</source>
        <translation>url &quot;%1&quot; cannot be parsed (expected mqtt://host:port or mqtts://host:port)</translation>
    </message>
    <message>
        <source>url &quot;%1&quot; 的协议 %2:// 不受支持（应为 mqtt:// 或 mqtts://）</source>
        <translation>url &quot;%1&quot;: the scheme %2:// is not supported (expected mqtt:// or mqtts://)</translation>
    </message>
    <message>
        <source>url &quot;%1&quot; 的端口 %2 无效（应为 1 到 65535）</source>
        <translation>url &quot;%1&quot;: the port %2 is not valid (expected 1 to 65535)</translation>
    </message>
    <message>
        <source>ca_file 未设置（mqtts:// 需要用来验证代理证书的 CA 文件）</source>
        <translation>ca_file is not set (mqtts:// needs the CA file that verifies the broker&apos;s certificate)</translation>
    </message>
    <message>
        <source>ca_file &quot;%1&quot; 无法读取（%2）</source>
        <translation>ca_file &quot;%1&quot; cannot be read (%2)</translation>
    </message>
    <message>
        <source>password_file &quot;%1&quot; 无法读取（%2）</source>
        <translation>password_file &quot;%1&quot; cannot be read (%2)</translation>
    </message>
    <message>
        <source>qos &quot;%1&quot; 无效（应为 0、1 或 2）</source>
        <translation>qos &quot;%1&quot; is not valid (expected 0, 1 or 2)</translation>
    </message>
</context>
<context>
    <name>ReadingsTable</name>
    <message>
        <source>通道</source>
        <translation>Channel</translation>
    </message>
    <message>
        <source>读数</source>
        <translation>Reading</translation>
    </message>
    <message>
        <source>时间</source>
        <translation>Time</translation>
    </message>
    <message>
        <source>最小值</source>
        <translation>Minimum</translation>
    </message>
    <message>
        <source>最大值</source>
        <translation>Maximum</translation>
    </message>
    <message>
        <source>平均值</source>
        <translation>Average</translation>
    </message>
</context>
<context>
    <name>SettingsPanel</name>
    <message>
        <source>仪器速度设置</source>
        <translation>Instrument speed</translation>
    </message>
    <message>
        <source>低速</source>
        <translation>Slow</translation>
    </message>
    <message>
        <source>快速</source>
        <translation>Fast</translation>
    </message>
    <message>
        <source>开始数据记录</source>
        <translation>Start data logging</translation>
    </message>
    <message>
        <source>使用&quot;开始&quot;按钮立即开始</source>
        <translation>When &quot;Start&quot; is pressed</translation>
    </message>
    <message>
        <source>扫描时间间隔</source>
        <translation>Scan interval</translation>
    </message>
    <message>
        <source>最小值</source>
        <translation>Minimum</translation>
    </message>
    <message>
        <source>自定义:</source>
        <translation>Custom:</translation>
    </message>
    <message>
        <source>停止数据记录</source>
        <translation>Stop data logging</translation>
    </message>
    <message>
        <source>使用“停止”按钮立即停止</source>
        <translation>When &quot;Stop&quot; is pressed</translation>
    </message>
    <message>
        <source>已用时间之后:</source>
        <translation>After elapsed time:</translation>
    </message>
    <message>
        <source>N次扫描后:</source>
        <translation>After N scans:</translation>
    </message>
    <message>
        <source>仪器速度：低速</source>
        <translation>Instrument speed: slow</translation>
    </message>
    <message>
        <source>每个通道稳定0.6秒</source>
        <translation>Each channel settles for 0.6 s</translation>
    </message>
    <message>
        <source>仪器速度：快速</source>
        <translation>Instrument speed: fast</translation>
    </message>
    <message>
        <source>每个通道稳定0.5秒</source>
        <translation>Each channel settles for 0.5 s</translation>
    </message>
    <message>
        <source>开始方式：开始按钮</source>
        <translation>Start: with the Start button</translation>
    </message>
    <message>
        <source>扫描间隔：最小值</source>
        <translation>Scan interval: minimum</translation>
    </message>
    <message>
        <source>扫描紧接着扫描</source>
        <translation>Each scan follows the previous one at once</translation>
    </message>
    <message>
        <source>扫描间隔：自定义</source>
        <translation>Scan interval: custom</translation>
    </message>
    <message>
        <source>每次扫描前暂停设定的时间</source>
        <translation>Pauses for the set time before each scan</translation>
    </message>
    <message>
        <source>扫描间隔时长</source>
        <translation>Scan interval length</translation>
    </message>
    <message>
        <source>停止方式：停止按钮</source>
        <translation>Stop: with the Stop button</translation>
    </message>
    <message>
        <source>停止方式：已用时间之后</source>
        <translation>Stop: after elapsed time</translation>
    </message>
    <message>
        <source>记录时长</source>
        <translation>Logging duration</translation>
    </message>
    <message>
        <source>停止方式：N次扫描后</source>
        <translation>Stop: after N scans</translation>
    </message>
    <message>
        <source>扫描次数</source>
        <translation>Number of scans</translation>
    </message>
</context>
<context>
    <name>TimeColumn</name>
    <message>
        <source>增加</source>
        <translation>Increase</translation>
    </message>
    <message>
        <source>减少</source>
        <translation>Decrease</translation>
    </message>
</context>
<context>
    <name>TimePicker</name>
    <message>
        <source>天</source>
        <translation>Days</translation>
    </message>
    <message>
        <source>小时</source>
        <translation>Hours</translation>
    </message>
    <message>
        <source>分钟</source>
        <translation>Minutes</translation>
    </message>
    <message>
        <source>秒</source>
        <translation>Seconds</translation>
    </message>
    <message>
        <source>毫秒</source>
        <translation>Milliseconds</translation>
    </message>
</context>
<context>
    <name>TrendPlot</name>
    <message>
        <source>滚轮缩放时间轴，Shift+滚轮缩放数值轴；左键拖框放大，右键拖动平移</source>
        <translation>Wheel zooms the time axis, Shift+wheel the value axis; drag with the left button to zoom in, with the right button to pan</translation>
    </message>
    <message>
        <source>重置视图</source>
        <translation>Reset view</translation>
    </message>
    <message>
        <source>正在读取记录...</source>
        <translation>Reading the recording...</translation>
    </message>
    <message>
        <source>记录读取未完成</source>
        <translation>The recording could not be read completely</translation>
    </message>
    <message>
        <source>整个记录：%1 条曲线，%2 个采样点</source>
        <translation>Whole recording: %1 curves, %2 samples</translation>
    </message>
    <message>
        <source>所选区间：%1 个采样点</source>
        <translation>Selected range: %1 samples</translation>
    </message>
    <message>
        <source>通道 %1：显示</source>
        <translation>Channel %1: shown</translation>
    </message>
    <message>
        <source>通道 %1：已隐藏</source>
        <translation>Channel %1: hidden</translation>
    </message>
    <message>
        <source>按下可显示或隐藏这条曲线</source>
        <translation>Press to show or hide this curve</translation>
    </message>
</context>
</TS>
