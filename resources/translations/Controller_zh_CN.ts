<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN" sourcelanguage="en">
<context>
    <name>MainDialog</name>
    <message>
        <source>%1: permission denied</source>
        <translation>%1：权限被拒绝</translation>
    </message>
    <message>
        <source>Pravex Controller</source>
        <translation>Pravex 控制器</translation>
    </message>
    <message>
        <source>Lunari Controller</source>
        <translation>Lunari 控制器</translation>
    </message>
    <message>
        <source>Status</source>
        <translation>状态</translation>
    </message>
    <message>
        <source>Enabled</source>
        <translation>启用</translation>
    </message>
    <message>
        <source>N/A</source>
        <translation>N/A</translation>
    </message>
    <message>
        <source>Calibration</source>
        <translation>校准</translation>
    </message>
    <message>
        <source>Calibrate</source>
        <translation>开始校准</translation>
    </message>
    <message>
        <source>Test</source>
        <translation>测试</translation>
    </message>
    <message>
        <source>Graph</source>
        <translation>信号图</translation>
    </message>
    <message>
        <source>Settings</source>
        <translation>设置</translation>
    </message>
    <message>
        <source>Product Name</source>
        <translation>产品名称</translation>
    </message>
    <message>
        <source>Pravex</source>
        <translation>Pravex</translation>
    </message>
    <message>
        <source>Lunari</source>
        <translation>Lunari</translation>
    </message>
    <message>
        <source>Firmware Version</source>
        <translation>固件版本</translation>
    </message>
    <message>
        <source>n/a</source>
        <translation>n/a</translation>
    </message>
    <message>
        <source>Driver Version</source>
        <translation>驱动程序版本</translation>
    </message>
    <message>
        <source>Touch Points</source>
        <translation>触摸点数</translation>
    </message>
    <message>
        <source>Layout</source>
        <translation>传感器布局</translation>
    </message>
    <message>
        <source>About</source>
        <translation>关于</translation>
    </message>
</context>
<context>
    <name>CalibrateArea</name>
    <message>
        <source>Quit</source>
        <translation>退出</translation>
    </message>
    <message>
        <source>Normal mode</source>
        <translation>全屏模式</translation>
    </message>
    <message>
        <source>Erea mode</source>
        <translation>区域模式</translation>
    </message>
    <message>
        <source> use the left
 button to draw
 touch area</source>
        <translation> 按住鼠标左键
 拖动以绘制
 触摸区域</translation>
    </message>
    <message>
        <source>area is too small!</source>
        <translation>区域太小！</translation>
    </message>
    <message>
        <source>Calibrate exception!</source>
        <translation>校准出错！</translation>
    </message>
    <message>
        <source>The whole-desktop calibration cannot be shown: its targets would lie between the monitors. Use &quot;Erea mode&quot; and draw the touch area on the touch screen.</source>
        <translation>无法显示整个桌面的校准：校准点会落在显示器之间的空隙中。请选择“区域模式”，并在触摸屏上绘制触摸区域。</translation>
    </message>
</context>
<context>
    <name>Graph</name>
    <message>
        <source>Test</source>
        <translation>测试</translation>
    </message>
    <message>
        <source>Graph</source>
        <translation>信号图</translation>
    </message>
    <message>
        <source>Threshold:</source>
        <translation>阈值：</translation>
    </message>
    <message>
        <source>-</source>
        <translation>-</translation>
    </message>
    <message>
        <source>+</source>
        <translation>+</translation>
    </message>
</context>
<context>
    <name>Message</name>
    <message>
        <source>Prompt</source>
        <translation>提示</translation>
    </message>
    <message>
        <source>save the area?</source>
        <translation>保存该区域吗？</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>确定</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>取消</translation>
    </message>
</context>
<context>
    <name>Prompt</name>
    <message>
        <source>Prompt</source>
        <translation>提示</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>确定</translation>
    </message>
</context>
</TS>
