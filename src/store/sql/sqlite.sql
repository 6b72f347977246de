-- VELDA schema (sqlite). Table and column names are the ones every statement of the program uses.
-- Every value is text unless noted; the keys are what refuses duplicates and races.

CREATE TABLE PDM日志 (
    序号 INTEGER PRIMARY KEY AUTOINCREMENT,
    ID text,
    代号 text,
    时间 text,
    方式 text
);

CREATE TABLE PDM用户 (
    ID text NOT NULL,
    密码 text,
    所属组 text,
    备注 text,
    创建日期 text,
    PRIMARY KEY (ID)
);

CREATE TABLE PDM组 (
    组名 text NOT NULL,
    目录名称 text,
    备注 text,
    PRIMARY KEY (组名)
);

CREATE TABLE PDM存储目录 (
    目录名称 text NOT NULL,
    服务器IP text,
    备注 text,
    PRIMARY KEY (目录名称)
);

CREATE TABLE PDM系统管理员信息 (
    ID text NOT NULL,
    密码 text,
    序列号 text NOT NULL,
    PRIMARY KEY (ID, 序列号)
);

CREATE TABLE PDM入库图纸信息 (
    代号 text NOT NULL,
    读 text,
    写 text,
    删 text,
    改 text,
    入库帐号 text,
    入库时间 text,
    入库文件名称 text,
    状态 text,
    目录名称 text,
    PRIMARY KEY (代号)
);

CREATE TABLE PDM出库图纸信息 (
    代号 text NOT NULL,
    出库帐号 text,
    出库时间 text,
    PRIMARY KEY (代号)
);

CREATE TABLE 零件信息 (
    代号 text NOT NULL,
    名称 text,
    类型 text,
    材料 text,
    重量 text,
    PRIMARY KEY (代号)
);

CREATE TABLE 图纸信息 (
    代号 text NOT NULL,
    设计 text,
    校对 text,
    主管设计 text,
    审定 text,
    标准审查 text,
    工艺审查 text,
    日期 text,
    比例 text,
    编码 text,
    幅面 text,
    页数 text,
    图样 text,
    页码 text,
    PRIMARY KEY (代号)
);

CREATE TABLE 材料名称 (
    材料名称 text,
    顺序号 integer
);

CREATE TABLE 借用件 (
    名称 text,
    借用产品 text,
    借用结合部 text,
    入库时间 text,
    入库帐号 text
);

CREATE TABLE 产品档案库 (
    代号 text NOT NULL,
    名称 text,
    立项时间 text,
    预计完成时间 text,
    实际完成时间 text,
    主任设计 text,
    主任工艺 text,
    主任电气 text,
    主要性能指标 text,
    主要技术特点 text,
    备注 text,
    入库帐号 text,
    读 text,
    写 text,
    删 text,
    改 text,
    PRIMARY KEY (代号)
);

CREATE TABLE 产品结构 (
    结合部代号 text,
    结点代号 text,
    结点类型 text,
    结点序号 integer NOT NULL DEFAULT 0,
    结点数量 text,
    结点编号 integer,
    备注 text
);

CREATE TABLE 产品结构入库人员信息表 (
    结合部代号 text NOT NULL,
    结合部名称 text,
    入库者 text,
    入库密码 text,
    入库时间 text,
    备注 text,
    PRIMARY KEY (结合部代号)
);

-- What an office decides once for every client (numbers, switches), by name; tables the program added
-- after the first version are created at connect when an older database lacks them.
CREATE TABLE 系统设置 (
    名称 text NOT NULL,
    值 text,
    PRIMARY KEY (名称)
);

-- Every version of a drawing that a check-in stored: 版本号 is the number of the check-in's log row, so
-- versions sort by time. A version no longer current lies in the volume's history folder; 删除帐号 and
-- 删除时间 are set while its drawing is deleted.
CREATE TABLE 图纸版本 (
    代号 text NOT NULL,
    版本号 integer NOT NULL,
    入库帐号 text,
    入库时间 text,
    文件大小 integer,
    摘要 text,
    目录名称 text,
    入库文件名称 text,
    说明 text,
    删除帐号 text,
    删除时间 text,
    PRIMARY KEY (代号, 版本号)
);

-- Failed logins by the name as typed: the run's count and start, and the end of a lock-out (seconds
-- since 1970), so that every client sees the same lock.
CREATE TABLE 登录失败 (
    帐号 text NOT NULL,
    次数 integer NOT NULL DEFAULT 0,
    首次 bigint NOT NULL DEFAULT 0,
    锁至 bigint NOT NULL DEFAULT 0,
    PRIMARY KEY (帐号)
);

-- Encryption of each volume's transfers: 加密方式 require, prefer or off; 公钥指纹 the server's public
-- key pinned at the first encrypted connection ("sha256//" + base64), empty until then.
CREATE TABLE 存储目录加密 (
    目录名称 text NOT NULL,
    加密方式 text NOT NULL DEFAULT 'prefer',
    公钥指纹 text NOT NULL DEFAULT '',
    PRIMARY KEY (目录名称)
);

CREATE INDEX 产品结构_结合部代号 ON 产品结构 (结合部代号, 结点编号);
-- Where a code is used: the sections that list it, found by the stored code (compared code unit by code
-- unit, so that the range of a code#spec#name code is the same on both databases), without reading rows.
CREATE INDEX 产品结构_结点代号 ON 产品结构 (结点代号, 结合部代号, 结点数量);
CREATE INDEX PDM日志_时间 ON PDM日志 (时间);
-- The library finds a drawing's last check-in by its code.
CREATE INDEX PDM日志_代号 ON PDM日志 (代号);
-- A drawing's last check-in is one probe of this index, for one drawing and for the whole library list.
CREATE INDEX PDM日志_代号_方式 ON PDM日志 (代号, 方式, 序号);
-- A check-in asks whether another code already names its stored file.
CREATE INDEX PDM入库图纸信息_文件 ON PDM入库图纸信息 (目录名称, 入库文件名称);
-- The deleted drawings' list reads the versions of deleted drawings alone.
CREATE INDEX 图纸版本_删除 ON 图纸版本 (删除时间);
