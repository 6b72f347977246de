-- Reference data of a new VELDA database: the two permanent groups, the first administrator
-- account and the material pick list. Both dialects read the same statements.
INSERT INTO PDM组 (组名, 目录名称, 备注) VALUES ('admin', NULL, '系统管理员组');
INSERT INTO PDM组 (组名, 目录名称, 备注) VALUES ('user', NULL, '普通用户组');
INSERT INTO PDM用户 (ID, 密码, 所属组, 备注, 创建日期) VALUES ('admin', 'admin', '/admin/user/', '系统管理员', :today);
INSERT INTO 材料名称 (材料名称, 顺序号) VALUES ('Q235-A', 1);
INSERT INTO 材料名称 (材料名称, 顺序号) VALUES ('Q345', 2);
INSERT INTO 材料名称 (材料名称, 顺序号) VALUES ('10', 3);
INSERT INTO 材料名称 (材料名称, 顺序号) VALUES ('20', 4);
INSERT INTO 材料名称 (材料名称, 顺序号) VALUES ('35', 5);
INSERT INTO 材料名称 (材料名称, 顺序号) VALUES ('45', 6);
INSERT INTO 材料名称 (材料名称, 顺序号) VALUES ('40Cr', 7);
INSERT INTO 材料名称 (材料名称, 顺序号) VALUES ('20CrMnTi', 8);
INSERT INTO 材料名称 (材料名称, 顺序号) VALUES ('65Mn', 9);
INSERT INTO 材料名称 (材料名称, 顺序号) VALUES ('1Cr18Ni9Ti', 10);
INSERT INTO 材料名称 (材料名称, 顺序号) VALUES ('HT150', 11);
INSERT INTO 材料名称 (材料名称, 顺序号) VALUES ('HT200', 12);
INSERT INTO 材料名称 (材料名称, 顺序号) VALUES ('HT250', 13);
INSERT INTO 材料名称 (材料名称, 顺序号) VALUES ('QT450-10', 14);
INSERT INTO 材料名称 (材料名称, 顺序号) VALUES ('ZG270-500', 15);
INSERT INTO 材料名称 (材料名称, 顺序号) VALUES ('H62', 16);
INSERT INTO 材料名称 (材料名称, 顺序号) VALUES ('LY12', 17);
INSERT INTO 材料名称 (材料名称, 顺序号) VALUES ('ZL102', 18);
INSERT INTO 材料名称 (材料名称, 顺序号) VALUES ('尼龙', 19);
INSERT INTO 材料名称 (材料名称, 顺序号) VALUES ('橡胶', 20);
