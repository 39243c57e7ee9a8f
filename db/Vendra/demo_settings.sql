-- Vendra demo: the third back-end instance of the demo shop. Instances 1 and
-- 2 and the customer settings are in demo.sql. The connectors the instances
-- are reached over belong to the selector's settings, not to this table:
-- instance 1 tw5 (orders handed over at once, EXPORTMESSAGETYPE 2), instance 2
-- tw4 and instance 3 twkt (both by the periodic run, EXPORTMESSAGETYPE 1).
INSERT INTO ORDEREXPORTFILE (KROID, DESCRIPTION, EXPORTMESSAGETYPE, SALESORDERTYPE,
    CREDITCARDORDERTYPE, MAXATTEMPTS, EMAIL, EXPORTDIRECTORY, EXPORTFILENAME) VALUES
  (3, 'ERP Linz', 1, 'SOK', 'CCK', 5, 'erp-linz@shop.example', 'exchange', 'orders3.xml');
