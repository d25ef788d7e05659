<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN" sourcelanguage="zh_CN">
<context>
    <name>Base_Frame</name>
    <message>
        <source>Base_Frame</source>
        <translation>Corvane Tool</translation>
    </message>
</context>
<context>
    <name>Network_Set</name>
    <message>
        <source>Form</source>
        <translation>网络配置</translation>
    </message>
</context>
<context>
    <name>Set_Audio</name>
    <message>
        <source>Form</source>
        <translation>Corvane Tool</translation>
    </message>
</context>
<context>
    <name>Set_audio_tx</name>
    <message>
        <source>Form</source>
        <translation>Corvane Tool</translation>
    </message>
</context>
<context>
    <name>Video_Parameters</name>
    <message>
        <source>Form</source>
        <translation>Corvane Tool</translation>
    </message>
</context>
</TS>
