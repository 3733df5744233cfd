CREATE TABLE [>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>a؝] (k1 TExT(10) NOT NULL, k2 LONG, v MEMO DEFAULT 'xC,y');
